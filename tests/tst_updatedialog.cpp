#include "Session.h"
#include "TestMain.h"
#include "service/ClientInfo.h"
#include "service/Inactivity.h"
#include "update/DialogUpdate.h"
#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>

class TestUpdateDialog : public QObject {
    Q_OBJECT
    TestHome home;
    ServiceFixture fixture;
    DialogUpdate dialog; // shown again for every ending, as the connection does
    QSignalSpy failures{&dialog, &DialogUpdate::updateFailure};
    QList<QUrl> opened;
    void click(const char *button) { child<QPushButton>(&dialog, button)->click(); }
    QString failure(const char *button) { // reported after `button` (Escape if null)
        dialog.show();
        button ? click(button) : QTest::keyClick(&dialog, Qt::Key_Escape);
        (void)QTest::qWaitFor([&] { return !failures.isEmpty(); }, kTimeout); // checked below
        return failures.isEmpty() ? QString() : failures.takeFirst().at(0).toString();
    }
    int downloads() { return fixture.service().requests("/vazedo/UpdateService").size(); }
    QString installer() { return QDir::temp().entryInfoList({"qvwsetup_*"}).value(0).filePath(); }
public slots:
    void openInstaller(const QUrl &url) { opened.append(url); } // stands in for the desktop
private slots:
    void everyEnding() {
        dialog.setMessage("<b>Versione</b> 2"); // the service's words, never markup
        QCOMPARE(child<QLabel>(&dialog, "lblMessaggio")->textFormat(), Qt::PlainText);
        QCOMPARE(failure("pbAnnulla"), QStringLiteral("Aggiornamento annullato"));
        QCOMPARE(failure(nullptr), QStringLiteral("Aggiornamento annullato"));
        fixture.service().delayReply(kTimeout, "/vazedo/UpdateService");
        click("pbAggiorna");
        QVERIFY(QTest::qWaitFor([&] { return downloads() == 1; }, kTimeout)); // none before
        QCOMPARE(failure("pbAnnulla"), QStringLiteral("Operation canceled"));
        Inactivity::setTimeoutMs(2000); // a download that stalls ends on its own
        fixture.service().delayReply(kTimeout, "/vazedo/UpdateService");
        QCOMPARE(failure("pbAggiorna"), QStringLiteral("Il servizio non risponde da 2 secondi: "
                                                       "controllare la connessione e riprovare"));
        Inactivity::setTimeoutMs(60000);
        fixture.service().scriptReply(404, "no", "/vazedo/UpdateService", "text/plain");
        const QString url = fixture.baseUrlString() + "/vazedo/UpdateService?platform=";
        QCOMPARE(failure("pbAggiorna"), "Error transferring " + url + ClientInfo::platform() +
                                            " - server replied: Not Found");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("No such method"));
        QDesktopServices::setUrlHandler("file", this, "none"); // the opener cannot be reached
        const QString unstarted = failure("pbAggiorna");
        QCOMPARE(unstarted, "Impossibile avviare il programma di aggiornamento " +
                                QDir::toNativeSeparators(installer()));
        QVERIFY(QFile::remove(installer()));
        QDesktopServices::setUrlHandler("file", this, "openInstaller");
        QObject watchdog; // quitting takes the application's own loop
        QTimer::singleShot(0, &watchdog, [&] { click("pbAggiorna"); });
        QTimer::singleShot(kTimeout, &watchdog, [] { qApp->exit(1); });
        QCOMPARE(QCoreApplication::exec(), 0);
        QFile saved(installer());
        QCOMPARE(opened, QList<QUrl>{QUrl::fromLocalFile(saved.fileName())});
        QVERIFY(saved.open(QIODevice::ReadOnly));
        QCOMPARE(saved.readAll(), LocalService::installerFor(ClientInfo::platform()));
        QDesktopServices::unsetUrlHandler("file");
        qputenv("TMPDIR", home.path().toUtf8() + "/missing"); // the home puts it back
        QCOMPARE(failure("pbAggiorna"), QString("Impossibile salvare il file di aggiornamento"));
    }
};

QUILLORA_TEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
