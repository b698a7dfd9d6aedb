#include "ServiceFixture.h"
#include "TestHome.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "update/DialogUpdate.h"

#include <QDesktopServices>
#include <QDir>
#include <QLabel>
#include <QNetworkCookieJar>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const int kTimeout = 60000;
const QString kUpdatePath = QStringLiteral("/vazedo/UpdateService");

// Stands in for the desktop's default opener.
class Opener : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl &url) { opened.append(url); }
};

// A connection that has met "31" and shows its update dialog.
struct Setup {
    TestHome home;
    ServiceFixture fixture;
    std::unique_ptr<QNetworkCookieJar> jar = std::make_unique<QNetworkCookieJar>();
    std::unique_ptr<QVWConn> conn;
    std::unique_ptr<QSignalSpy> failures;
    DialogUpdate *dialog = nullptr;

    // False when the dialog does not come up.
    bool showUpdate() {
        const TestAccount account =
            fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), 0);
        fixture.service().forceUpdateRequiredOnNextLogin(QStringLiteral("Nuova versione"));
        conn = std::make_unique<QVWConn>(jar.get(), false);
        failures = std::make_unique<QSignalSpy>(conn.get(), &QVWConn::commandFailure);
        conn->login(account.user, account.password, true);
        return QTest::qWaitFor([&] { return (dialog = visibleDialog()) != nullptr; }, kTimeout);
    }
    static DialogUpdate *visibleDialog() {
        for (QWidget *w : QApplication::topLevelWidgets()) {
            if (auto *d = qobject_cast<DialogUpdate *>(w); d && d->isVisible())
                return d;
        }
        return nullptr;
    }
    QPushButton *button(const char *name) const {
        return dialog->findChild<QPushButton *>(QLatin1String(name));
    }
    QWidget *widget(const char *name) const {
        return dialog->findChild<QWidget *>(QLatin1String(name));
    }
    QList<LocalService::RecordedRequest> downloads() {
        return fixture.service().requests(kUpdatePath);
    }
};

QStringList installersIn(const QString &dir) {
    return QDir(dir).entryList({QStringLiteral("qvwsetup_*.exe")}, QDir::Files);
}

} // namespace

class TestUpdateDialog : public QObject {
    Q_OBJECT

private slots:
    // The test certificates are made once per process; made here, before any
    // test home moves the temporary directory, they outlive every home.
    void initTestCase() { QVERIFY(QFile::exists(ServiceFixture::caCertificatePath())); }

    void form() {
        TestHome home;
        DialogUpdate dialog;
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Aggiornamento applicazione"));
        QCOMPARE(dialog.size(), QSize(400, 136));
        QVERIFY(dialog.windowFlags() & Qt::CustomizeWindowHint);
        QVERIFY(dialog.windowFlags() & Qt::WindowTitleHint);
        QVERIFY(!(dialog.windowFlags() & Qt::WindowCloseButtonHint));
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pbAggiorna"))->text(),
                 QStringLiteral("Procedi"));
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("pbAnnulla"))->text(),
                 QStringLiteral("Annulla"));
        auto *bar = dialog.findChild<QProgressBar *>(QStringLiteral("progressBar"));
        QCOMPARE(bar->value(), 0);
        QVERIFY(bar->isHidden());
        dialog.setMessage(QStringLiteral("Aggiornare"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("lblMessaggio"))->text(),
                 QStringLiteral("Aggiornare"));
        QVERIFY(dialog.findChild<QLabel *>(QStringLiteral("lblMessaggio"))->wordWrap());
    }

    void cancelBeforeDownload() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        QCOMPARE(s.dialog->findChild<QLabel *>(QStringLiteral("lblMessaggio"))->text(),
                 QStringLiteral("Nuova versione"));
        QTest::mouseClick(s.button("pbAnnulla"), Qt::LeftButton);
        QCOMPARE(s.failures->count(), 1);
        QCOMPARE(s.failures->first().at(0).toString(), QStringLiteral("Aggiornamento annullato"));
        QCOMPARE(s.failures->first().at(1).toString(), STATUS_UPDATE_FAILED);
        QVERIFY(!s.dialog->isVisible());
        QVERIFY(s.downloads().isEmpty());
        // Reported once: the connection lets go of the dialog's signal.
        emit s.dialog->updateFailure(QStringLiteral("di nuovo"));
        QCOMPARE(s.failures->count(), 1);
    }

    void escapeCancelsLikeAnnulla() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        QTest::keyClick(s.dialog, Qt::Key_Escape);
        QCOMPARE(s.failures->count(), 1);
        QCOMPARE(s.failures->first().at(0).toString(), QStringLiteral("Aggiornamento annullato"));
        QVERIFY(!s.dialog->isVisible());
    }

    void cancelDuringDownload() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        s.fixture.service().delayReply(30000, kUpdatePath);
        QTest::mouseClick(s.button("pbAggiorna"), Qt::LeftButton);
        QVERIFY(!s.button("pbAggiorna")->isEnabled());
        QVERIFY(s.widget("lblMessaggio")->isHidden());
        QVERIFY(!s.widget("progressBar")->isHidden());
        QTRY_VERIFY_WITH_TIMEOUT(!s.downloads().isEmpty(), kTimeout);
        QCOMPARE(s.downloads().first().query.queryItemValue(QStringLiteral("platform")),
                 ClientInfo::platform());

        QTest::mouseClick(s.button("pbAnnulla"), Qt::LeftButton);
        QCOMPARE(s.failures->count(), 1);
        const QString message = s.failures->first().at(0).toString();
        QVERIFY(!message.isEmpty());
        QVERIFY(message != QStringLiteral("Aggiornamento annullato"));
        QCOMPARE(s.failures->first().at(1).toString(), STATUS_UPDATE_FAILED);
        QVERIFY(s.button("pbAggiorna")->isEnabled());
        QVERIFY(!s.dialog->isVisible());
        QVERIFY(installersIn(QDir::tempPath()).isEmpty());
    }

    void httpErrorIsReported() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        s.fixture.service().scriptReply(404, QByteArray("nessun installatore"), kUpdatePath,
                                        QByteArray("text/plain"));
        QTest::mouseClick(s.button("pbAggiorna"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(s.failures->count(), 1, kTimeout);
        QVERIFY(s.failures->first().at(0).toString().contains(QStringLiteral("Not Found")));
        QCOMPARE(s.failures->first().at(1).toString(), STATUS_UPDATE_FAILED);
        QVERIFY(!s.dialog->isVisible());
        QVERIFY(installersIn(QDir::tempPath()).isEmpty());

        // Shown again, it asks again instead of looking busy.
        s.dialog->show();
        QVERIFY(!s.widget("lblMessaggio")->isHidden());
        QVERIFY(s.widget("progressBar")->isHidden());
        QVERIFY(s.button("pbAggiorna")->isEnabled());
    }

    void installerIsSavedStartedAndClientQuits() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        Opener opener;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "open");
        QTimer::singleShot(0, s.dialog,
                           [&] { QTest::mouseClick(s.button("pbAggiorna"), Qt::LeftButton); });
        QTimer::singleShot(kTimeout, qApp, [] { QCoreApplication::exit(7); });
        const int code = QCoreApplication::exec();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(code, 0); // quit by the dialog, not by the watchdog
        QCOMPARE(s.failures->count(), 0);

        const QStringList saved = installersIn(QDir::tempPath());
        QCOMPARE(saved.size(), 1);
        QVERIFY(QRegularExpression(QStringLiteral("^qvwsetup_.{6}\\.exe$"))
                    .match(saved.first())
                    .hasMatch());
        const QString path = QDir(QDir::tempPath()).filePath(saved.first());
        QCOMPARE(opener.opened, QList<QUrl>{QUrl::fromLocalFile(path)});
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), LocalService::installerFor(ClientInfo::platform()));
        QCOMPARE(s.downloads().size(), 1);
        QCOMPARE(s.downloads().first().method, QByteArray("GET"));
    }

    void installerThatCannotStartIsReported() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        // An opener that cannot be reached: opening the file fails.
        Opener opener;
        QDesktopServices::setUrlHandler(QStringLiteral("file"), &opener, "missing");
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression(QStringLiteral("No such method")));
        connect(s.conn.get(), &QVWConn::commandFailure, qApp, [] { QCoreApplication::exit(5); });
        QTimer::singleShot(0, s.dialog,
                           [&] { QTest::mouseClick(s.button("pbAggiorna"), Qt::LeftButton); });
        QTimer::singleShot(kTimeout, qApp, [] { QCoreApplication::exit(7); });
        const int code = QCoreApplication::exec();
        QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
        QCOMPARE(code, 5); // the client keeps running
        QCOMPARE(s.failures->count(), 1);
        const QStringList saved = installersIn(QDir::tempPath());
        QCOMPARE(saved.size(), 1);
        QVERIFY(s.failures->first().at(0).toString().startsWith(
            QStringLiteral("Impossibile avviare il programma di aggiornamento")));
        QVERIFY(s.failures->first().at(0).toString().contains(saved.first()));
        QCOMPARE(s.failures->first().at(1).toString(), STATUS_UPDATE_FAILED);
        QVERIFY(!s.dialog->isVisible());
    }

    void installerThatCannotBeSavedIsReported() {
        Setup s;
        QVERIFY2(s.fixture.isRunning(), qPrintable(s.fixture.errorString()));
        QVERIFY(s.showUpdate());
        const QByteArray tmp = qgetenv("TMPDIR");
        // A temporary "directory" that is a plain file: nothing can be made in it.
        const QString notADirectory = QDir(s.home.path()).filePath(QStringLiteral("file"));
        QFile plain(notADirectory);
        QVERIFY(plain.open(QIODevice::WriteOnly));
        plain.close();
        qputenv("TMPDIR", notADirectory.toLocal8Bit());
        QTest::mouseClick(s.button("pbAggiorna"), Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(s.failures->count(), 1, kTimeout);
        qputenv("TMPDIR", tmp);
        QCOMPARE(s.failures->first().at(0).toString(),
                 QStringLiteral("Impossibile salvare il file di aggiornamento"));
        QCOMPARE(s.failures->first().at(1).toString(), STATUS_UPDATE_FAILED);
        QVERIFY(!s.dialog->isVisible());
    }
};

QTEST_MAIN(TestUpdateDialog)
#include "tst_updatedialog.moc"
