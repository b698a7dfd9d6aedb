#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/ProxyDialog.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"
#include "storage/Setting.h"
#include "update/DialogUpdate.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookieJar>
#include <QPointer>
#include <QPushButton>
#include <QTcpServer>

// One dialog, shown again for every case as the main window does.
class TestLoginDialog : public QObject {
    Q_OBJECT
    TestHome home;
    ServiceFixture fixture;
    TestAccount account;
    QNetworkCookieJar jar;
    LoginDialog dialog{&jar};
    QSignalSpy ok{&dialog, &LoginDialog::loginOK}, ko{&dialog, &LoginDialog::loginKO};
    Setting setting;

    void reshow() {
        dialog.hide();
        dialog.show();
        ok.clear(), ko.clear(), fixture.service().clearRequests();
    }
    void submit(const QString &user, const QString &password, bool ctrl = false) {
        child<QLineEdit>(&dialog, "leUsername")->setText(user);
        child<QLineEdit>(&dialog, "lePassword")->setText(password);
        QTest::mouseClick(child<QPushButton>(&dialog, "btmOk"), Qt::LeftButton,
                          ctrl ? Qt::ControlModifier : Qt::NoModifier);
    }
    bool signIn() {
        submit(account.user, account.password);
        return ok.wait(kTimeout);
    }
    QString message() const { return child<QLabel>(&dialog, "lblLoginMessage")->text(); }
    QList<LocalService::RecordedRequest> logins() { return fixture.service().requests("login"); }
    // Points the connection at a loopback port nobody listens on.
    static QString deadPort() {
        QTcpServer server;
        server.listen(QHostAddress::LocalHost);
        return QString::number(server.serverPort());
    }

private slots:
    void initTestCase() {
        QGuiApplication::setQuitOnLastWindowClosed(false); // as in the program
        account = fixture.createAccount("anna", "segreta", 3);
    }

    void successfulLoginFillsTheMirror() {
        const TestAccount bruno = fixture.createAccount("bruno", "parola", 2);
        reshow();
        submit(bruno.user, bruno.password);
        QVERIFY(ok.wait(kTimeout));
        QCOMPARE(mirrorCount("files", "username='bruno'"), 2);
        reshow();
        child<QCheckBox>(&dialog, "ckbSalvaCredenziali")->setChecked(true);
        QVERIFY(signIn());
        QCOMPARE(ok.first(), QVariantList({account.user, account.password, true}));
        QCOMPARE(ko.count(), 0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        // The mirror holds the signed-in account only.
        QCOMPARE(mirrorCount("files", "username='bruno'"), 0);
        QCOMPARE(mirrorCount("files", "username='anna'"), account.documents.size());
        QCOMPARE(mirrorCount("folders"), account.classIds.size());
        QCOMPARE(logins().size(), 1);
        QCOMPARE(logins().first().statusNumber, QStringLiteral("1"));
        QCOMPARE(logins().first().element("username"), account.user);
        QCOMPARE(logins().first().element("password"), account.password);
        QCOMPARE(logins().first().element("forceLogin"), QStringLiteral("1"));
    }

    void ctrlHeldOffersCleaning_data() {
        QTest::addColumn<QString>("keys"); // Ctrl down, up, or down before the dialog shows again
        QTest::addColumn<int>("answer");   // to the question, 0 when none is asked
        QTest::newRow("held, Cancel keeps the mirror") << "held" << int(QMessageBox::Cancel);
        QTest::newRow("held, OK wipes the mirror") << "held" << int(QMessageBox::Ok);
        QTest::newRow("released does not ask") << "released" << 0;
        QTest::newRow("from an earlier showing forgotten") << "earlier" << 0;
    }
    void ctrlHeldOffersCleaning() {
        QFETCH(QString, keys);
        QFETCH(int, answer);
        reshow();
        QVERIFY(signIn());
        QCOMPARE(mirrorCount("files"), account.documents.size());
        dialog.show();
        QTest::keyPress(&dialog, Qt::Key_Control);
        if (keys == "released")
            QTest::keyRelease(&dialog, Qt::Key_Control);
        if (keys == "earlier")
            reshow();
        ScriptedDialogs dialogs;
        if (answer)
            dialogs.expectBox("Login",
                              "Sei veramente sicuro di voler avviare la pulizia degli indici prima "
                              "di effettuare il login?",
                              QMessageBox::StandardButton(answer));
        // A refused login leaves the mirror as the cleaning made it.
        submit(account.user, "sbagliata", keys == "held");
        QTest::keyRelease(&dialog, Qt::Key_Control);
        QVERIFY(ko.wait(kTimeout));
        QVERIFY(dialogs.allAnswered());
        const int left = answer == QMessageBox::Ok ? 0 : account.documents.size();
        QCOMPARE(mirrorCount("files"), left);
        QCOMPARE(mirrorCount("folders"), left ? account.classIds.size() : 0);
        QCOMPARE(setting.value("url"), fixture.baseUrlString());
    }

    void failures_data() {
        QTest::addColumn<int>("reply"); // scripted for the login; 31: an update is required
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line"); // under the fields afterwards
        QTest::newRow("refused") << 0 << QString() << QString() << "Username o password errate";
        QTest::newRow("network failure")
            << 403 << "Errore"
            << "Error transferring " + fixture.restUrl().toString() + " - server replied: Forbidden"
            << "Login fallito";
        QTest::newRow("service text shown as plain text") << 500 << "Errore"
                                                          << "<b>Archivio</b> non disponibile"
                                                          << "Login fallito";
        QTest::newRow("failed update") << 31 << "Aggiornamento software"
                                       << "Aggiornamento annullato"
                                       << "Errore durante l'aggiornamento";
    }
    void failures() {
        QFETCH(int, reply);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, line);
        reshow();
        if (reply == 403)
            fixture.service().scriptReply(403, "<html><b>vietato</b></html>", "login", "text/html");
        if (reply == 500)
            fixture.service().scriptReply(
                500,
                serviceReply("16", "<statusdescription>&lt;b&gt;Archivio&lt;/b&gt; non "
                                   "disponibile</statusdescription>"),
                "login");
        if (reply == 31)
            fixture.service().forceUpdateRequiredOnNextLogin("Nuova versione");
        ScriptedDialogs dialogs;
        if (!title.isEmpty())
            dialogs.expectBox(title, text);
        submit(account.user, reply ? account.password : "sbagliata");
        QCOMPARE(message(), QStringLiteral("Accesso in corso ..."));
        QVERIFY(!child<QPushButton>(&dialog, "btmOk")->isEnabled());
        if (reply == 31) {
            DialogUpdate *update = nullptr;
            QVERIFY(QTest::qWaitFor([&] { return (update = visibleTopLevel<DialogUpdate>()); },
                                    kTimeout));
            QCOMPARE(child<QLabel>(update, "lblMessaggio")->text(),
                     QStringLiteral("Nuova versione"));
            QCOMPARE(message(), QStringLiteral("Accesso in corso ...")); // the login waits
            child<QPushButton>(update, "pbAnnulla")->click();
        }
        QVERIFY(QTest::qWaitFor([&] { return message() == line; }, kTimeout));
        QVERIFY(dialogs.allAnswered());
        if (!title.isEmpty()) {
            QCOMPARE(dialogs.boxes().first().text, text);
            QCOMPARE(dialogs.boxes().first().format, Qt::PlainText);
        }
        QCOMPARE(ko.count(), reply ? 0 : 1);
        QCOMPARE(ok.count(), 0);
        QVERIFY(child<QPushButton>(&dialog, "btmOk")->isEnabled());
        QVERIFY(dialog.isVisible());
    }

    void emptyFieldsAreRefusedLocally() {
        reshow();
        ScriptedDialogs dialogs;
        dialogs.expectBox("Login", "Username è un campo obbligatorio");
        dialogs.expectBox("Login", "Password è un campo obbligatorio");
        dialogs.expectBox("Login", "Username è un campo obbligatorio");
        submit(QString(), account.password);
        submit(account.user, QString());
        submit(QString(), QString());
        QVERIFY(dialogs.allAnswered());
        for (const MessageBox::Request &box : dialogs.boxes())
            QCOMPARE(box.icon, QMessageBox::Critical);
        // Nothing went out: the service's log holds only the complete attempt.
        QVERIFY(signIn());
        QCOMPARE(logins().size(), 1);
    }

    void newConnectionOnEveryShowing() {
        reshow();
        QPointer<QVWConn> first = dialog.findChild<QVWConn *>();
        // A proxy set while the dialog is hidden is used from the next showing on.
        dialog.hide();
        setting.setValue("proxyUrl", "127.0.0.1");
        setting.setValue("proxyPort", deadPort());
        dialog.show();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!first);
        QCOMPARE(dialog.findChildren<QVWConn *>().size(), 1);
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox("Errore", "Proxy connection refused");
            submit(account.user, account.password);
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        setting.removeValue("proxyUrl");
        reshow();
        QVERIFY(signIn());
        QCOMPARE(logins().size(), 1); // none through the dead proxy
    }

    void proxyLinkOpensTheProxyDialogAndReapplies() {
        reshow();
        auto openProxyDialog = [&] {
            QTest::mouseClick(child<QLabel>(&dialog, "lblSettingProxy"), Qt::LeftButton);
            return QPointer<ProxyDialog>(visibleTopLevel<ProxyDialog>());
        };
        QPointer<ProxyDialog> proxy = openProxyDialog();
        QVERIFY(proxy && proxy->isModal());
        child<QCheckBox>(proxy, "chbEnableProxy")->setChecked(true);
        child<QLineEdit>(proxy, "leIndirizzoProxy")->setText("127.0.0.1");
        child<QLineEdit>(proxy, "lePortProxy")->setText(deadPort());
        child<QPushButton>(proxy, "btmSalva")->click();
        child<QPushButton>(proxy, "btmAnnulla")->click();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        QVERIFY(!proxy);
        { // Same showing, same connection: it now goes through the dead proxy.
            ScriptedDialogs dialogs;
            dialogs.expectBox("Errore", "Proxy connection refused");
            submit(account.user, account.password);
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        }
        proxy = openProxyDialog();
        QVERIFY(proxy);
        QVERIFY(child<QCheckBox>(proxy, "chbEnableProxy")->isChecked());
        child<QCheckBox>(proxy, "chbEnableProxy")->setChecked(false);
        child<QPushButton>(proxy, "btmSalva")->click();
        proxy->close();
        QVERIFY(signIn());
        QCOMPARE(logins().size(), 1); // none through the dead proxy
    }

    void linksOpenTheServicePages() {
        reshow();
        RecordedUrls urls;
        const QString base = fixture.baseUrlString();
        QTest::mouseClick(child<QPushButton>(&dialog, "btmHelp"), Qt::LeftButton);
        {
            ScriptedDialogs dialogs;
            const QString text = "Scarica il modulo e segui le istruzioni contenute all'interno";
            dialogs.expectBox("Recupero password", text, QMessageBox::Cancel);
            dialogs.expectBox("Recupero password", text, QMessageBox::Ok);
            QTest::mouseClick(child<QLabel>(&dialog, "lblRecuperaPwd"), Qt::LeftButton);
            QTest::mouseClick(child<QLabel>(&dialog, "lblRecuperaPwd"), Qt::LeftButton);
        }
        QTest::mouseClick(child<QLabel>(&dialog, "lblSurvey"), Qt::LeftButton);
        QCOMPARE(urls.urls(), QList<QUrl>({QUrl(base + "/vazedo/Help/"),
                                           QUrl(base + "/vazedo/PasswordRecovery/"),
                                           QUrl(base + "/vazedo/Survey/")}));
        QVERIFY(dialog.isVisible());
    }

    void closingWithAndWithoutTray_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("escape");
        QTest::newRow("Annulla, tray") << true << false;
        QTest::newRow("Annulla, no tray") << false << false;
        QTest::newRow("Escape, tray") << true << true;
        QTest::newRow("Escape, no tray") << false << true;
    }
    void closingWithAndWithoutTray() {
        QFETCH(bool, tray);
        QFETCH(bool, escape);
        TrayOverride override(tray);
        reshow();
        // Quitting takes the application's own loop; 7 when nobody asked for it.
        QObject scope;
        QTimer::singleShot(0, &scope, [&] {
            escape ? QTest::keyClick(&dialog, Qt::Key_Escape)
                   : child<QPushButton>(&dialog, "btmAnnulla")->click();
            QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(7); });
        });
        QCOMPARE(QCoreApplication::exec(), tray ? 7 : 0);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(dialog.result(), int(escape ? QDialog::Rejected : QDialog::Accepted));
        QCOMPARE(ok.count(), 0);
        QVERIFY(logins().isEmpty());
    }
};

QUILLORA_TEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
