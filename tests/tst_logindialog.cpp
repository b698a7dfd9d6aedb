#include "RecordedUrls.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/ProxyDialog.h"
#include "service/LoginDialog.h"
#include "storage/Setting.h"
#include "update/DialogUpdate.h"
#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QNetworkCookieJar>
#include <QPushButton>

const QString kCleaning = QStringLiteral("Sei veramente sicuro di voler avviare la pulizia degli "
                                         "indici prima di effettuare il login?");

// One dialog, shown again for every case as the main window does.
class TestLoginDialog : public QObject {
    Q_OBJECT
    enum Attempt { WrongPassword, NoUser, NoPassword, Forbidden, ServiceText, Update };
    TestHome home;
    ServiceFixture fixture;
    TestAccount account;
    QNetworkCookieJar jar;
    LoginDialog dialog{&jar};
    QSignalSpy ok{&dialog, &LoginDialog::loginOK}, ko{&dialog, &LoginDialog::loginKO};
    Setting setting;
    void reshow() { dialog.hide(), dialog.show(), ok.clear(), ko.clear(); }
    void click(const char *name, Qt::KeyboardModifiers keys = Qt::NoModifier) {
        QTest::mouseClick(child<QWidget>(&dialog, name), Qt::LeftButton, keys);
    }
    void submit(const QString &user, const QString &password,
                Qt::KeyboardModifiers keys = Qt::NoModifier) {
        child<QLineEdit>(&dialog, "leUsername")->setText(user);
        child<QLineEdit>(&dialog, "lePassword")->setText(password);
        click("btmOk", keys);
    }
    bool signIn(const TestAccount &as) { return submit(as.user, as.password), ok.wait(kTimeout); }
    QString message() const { return child<QLabel>(&dialog, "lblLoginMessage")->text(); }
    QList<LocalService::RecordedRequest> logins() { return fixture.service().requests("login"); }
    void row(const char *tag, Attempt attempt, QString title, QString text, QString line) {
        QTest::newRow(tag) << int(attempt) << title << text << line;
    }
private slots:
    void initTestCase() {
        QGuiApplication::setQuitOnLastWindowClosed(false); // as in the program
        account = fixture.createAccount("anna", "segreta", 3);
        dialog.show();
        QVERIFY(signIn(fixture.createAccount("bruno", "parola", 2)));
        QCOMPARE(mirrorCount("files", "username='bruno'"), 2);
    }
    void init() { fixture.service().clearRequests(); }

    void signInThenCtrlOffersCleaning_data() {
        QTest::addColumn<QString>("ctrl");
        QTest::addColumn<int>("answer"); // 0: no question
        QTest::newRow("held, Cancel keeps the mirror") << "held" << int(QMessageBox::Cancel);
        QTest::newRow("held, OK wipes the mirror") << "held" << int(QMessageBox::Ok);
        // Ctrl+A in the password field, long before OK.
        QTest::newRow("a shortcut before, not at the click") << "shortcut" << 0;
    }
    // Every row begins with a successful login, which leaves the account's rows only.
    void signInThenCtrlOffersCleaning() {
        QFETCH(QString, ctrl);
        QFETCH(int, answer);
        reshow();
        child<QCheckBox>(&dialog, "ckbSalvaCredenziali")->setChecked(true);
        QVERIFY(signIn(account));
        QCOMPARE(ok.first(), QVariantList({account.user, account.password, true}));
        QVERIFY(!dialog.isVisible() && dialog.result() == QDialog::Accepted);
        QCOMPARE(logins().last().element("forceLogin"), QStringLiteral("1"));
        QCOMPARE(mirrorCount("files", "username='bruno'"), 0);
        dialog.show();
        if (ctrl == "shortcut") { // its release never reaches the dialog
            QTest::keyPress(child<QLineEdit>(&dialog, "lePassword"), Qt::Key_Control);
            QTest::keyClick(child<QLineEdit>(&dialog, "lePassword"), Qt::Key_A, Qt::ControlModifier);
        }
        ScriptedDialogs dialogs;
        if (answer)
            dialogs.expectBox("Login", kCleaning, QMessageBox::StandardButton(answer));
        // Refused: the mirror stays as the cleaning left it.
        submit(account.user, "sbagliata", ctrl == "held" ? Qt::ControlModifier : Qt::NoModifier);
        QVERIFY(ko.wait(kTimeout));
        const bool wiped = answer == QMessageBox::Ok;
        QCOMPARE(mirrorCount("files", "username='anna'"), wiped ? 0 : account.documents.size());
        QCOMPARE(mirrorCount("folders"), wiped ? 0 : account.classIds.size());
        QCOMPARE(setting.value("url"), fixture.baseUrlString());
    }

    void failedAttempts_data() {
        QTest::addColumn<int>("attempt");
        QTest::addColumn<QString>("title"); // of the box; none if empty
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("line"); // under the fields afterwards
        const QString failed = "Login fallito", required = " è un campo obbligatorio";
        const QString forbidden = "Error transferring " + fixture.restUrl().toString();
        row("refused", WrongPassword, "", "", "Username o password errate");
        row("no username", NoUser, "Login", "Username" + required, "");
        row("no password", NoPassword, "Login", "Password" + required, "");
        row("network failure", Forbidden, "Errore", forbidden + " - server replied: Forbidden",
            failed);
        row("service text shown as plain text", ServiceText, "Errore",
            "<b>Archivio</b> non disponibile", failed);
        row("failed update", Update, "Aggiornamento software", "Aggiornamento annullato",
            "Errore durante l'aggiornamento");
    }
    void failedAttempts() {
        QFETCH(int, attempt);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, line);
        reshow();
        if (attempt == Forbidden || attempt == ServiceText)
            fixture.service().scriptReply(attempt == Forbidden ? 403 : 500,
                                          serviceReply("16", "<statusdescription>&lt;b&gt;"
                                                             "Archivio&lt;/b&gt; non disponibile"
                                                             "</statusdescription>"));
        if (attempt == Update)
            fixture.service().forceUpdateRequiredOnNextLogin("Nuova versione");
        ScriptedDialogs dialogs;
        if (!title.isEmpty())
            dialogs.expectBox(title, text);
        const QString password = attempt == WrongPassword ? "sbagliata" : account.password;
        submit(attempt == NoUser ? "" : account.user, attempt == NoPassword ? "" : password);
        if (attempt == Update) { // the login waits for the update
            DialogUpdate *update = nullptr;
            QVERIFY(QTest::qWaitFor([&] { return (update = visibleTopLevel<DialogUpdate>()); },
                                    kTimeout));
            QCOMPARE(message(), QStringLiteral("Accesso in corso ..."));
            child<QPushButton>(update, "pbAnnulla")->click();
        }
        QVERIFY(
            QTest::qWaitFor([&] { return message() == line && dialogs.allAnswered(); }, kTimeout));
        QCOMPARE(dialogs.boxes().isEmpty() ? QString() : dialogs.boxes().first().text, text);
        QVERIFY(dialogs.boxes().isEmpty() || dialogs.boxes().first().format == Qt::PlainText);
        QCOMPARE(ko.count(), int(attempt == WrongPassword));
        QVERIFY(signIn(account)); // a retry works; a refusal of the dialog's own sent nothing
        QCOMPARE(logins().size(), attempt == NoUser || attempt == NoPassword ? 1 : 2);
    }

    void newConnectionOnEveryShowingAndTheProxyLink() {
        dialog.hide(); // a proxy set meanwhile is used from the next showing on
        setting.setValue("proxyUrl", "127.0.0.1");
        setting.setValue("proxyPort", "1"); // nobody listens there
        reshow();
        ScriptedDialogs dialogs;
        dialogs.expectBox("Errore", "Proxy connection refused");
        submit(account.user, account.password);
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        click("lblSettingProxy"); // closing the settings applies them to this connection
        ProxyDialog *proxy = visibleTopLevel<ProxyDialog>();
        QVERIFY(proxy && proxy->isModal() &&
                child<QCheckBox>(proxy, "chbEnableProxy")->isChecked());
        child<QCheckBox>(proxy, "chbEnableProxy")->setChecked(false);
        child<QPushButton>(proxy, "btmSalva")->click();
        child<QPushButton>(proxy, "btmAnnulla")->click();
        QVERIFY(signIn(account));
        QCOMPARE(logins().size(), 1); // none through the dead proxy
    }

    void linksOpenTheServicePages() {
        reshow();
        RecordedUrls urls;
        ScriptedDialogs dialogs;
        const QString text = "Scarica il modulo e segui le istruzioni contenute all'interno";
        dialogs.expectBox("Recupero password", text, QMessageBox::Cancel);
        dialogs.expectBox("Recupero password", text, QMessageBox::Ok);
        for (const char *link : {"btmHelp", "lblRecuperaPwd", "lblRecuperaPwd", "lblSurvey"})
            click(link);
        const QString base = fixture.baseUrlString() + "/vazedo/";
        QCOMPARE(urls.urls(), QList<QUrl>({QUrl(base + "Help/"), QUrl(base + "PasswordRecovery/"),
                                           QUrl(base + "Survey/")}));
    }

    void closingWithAndWithoutTray_data() {
        QTest::addColumn<bool>("tray");
        QTest::addColumn<bool>("escape");
        for (bool escape : {false, true})
            for (bool tray : {true, false})
                QTest::addRow("%s, %s", escape ? "Escape" : "Annulla", tray ? "tray" : "no tray")
                    << tray << escape;
    }
    void closingWithAndWithoutTray() {
        QFETCH(bool, tray);
        QFETCH(bool, escape);
        TrayOverride override(tray);
        reshow();
        QObject scope; // quitting takes the application's own loop; 7: nobody asked to
        QTimer::singleShot(0, &scope, [&] {
            escape ? QTest::keyClick(&dialog, Qt::Key_Escape) : click("btmAnnulla");
            QTimer::singleShot(0, &scope, [] { QCoreApplication::exit(7); });
        });
        QCOMPARE(QCoreApplication::exec(), tray ? 7 : 0);
        QVERIFY(!dialog.isVisible() &&
                dialog.result() == (escape ? QDialog::Rejected : QDialog::Accepted));
    }
};

QUILLORA_TEST_MAIN(TestLoginDialog)
#include "tst_logindialog.moc"
