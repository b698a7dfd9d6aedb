// The change-password dialog on the cookie jar of a connection signed in once,
// as the main window's is, and the proxy dialog.
#include "QueryRows.h"
#include "ScriptedDialogs.h"
#include "ServiceXml.h"
#include "Session.h"
#include "TestMain.h"
#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "service/QVWConn.h"

#include <QCheckBox>
#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>

namespace {
QStringList proxyRows() {
    return mirrorRows(
        QStringLiteral("SELECT key, value FROM settings WHERE key LIKE 'proxy%' ORDER BY key"));
}

// The stored proxy of an office, with or without credentials.
void storeProxy(bool credential) {
    Setting setting;
    const QStringList keys = {"proxyUrl", "proxyPort", "proxyCredential", "proxyUsername",
                              "proxyPassword"};
    const QStringList values = {"proxy.lan", "3128", "1", "mario", "p4ss"};
    for (int i = 0; i < keys.size(); ++i)
        i < 2 || credential ? setting.setValue(keys[i], values[i]) : setting.removeValue(keys[i]);
}

struct ProxyForm : ProxyDialog {
    QCheckBox *enable = child<QCheckBox>(this, "chbEnableProxy");
    QCheckBox *credential = child<QCheckBox>(this, "chbEnableCredential");
    QList<QLineEdit *> fields = {child<QLineEdit>(this, "leIndirizzoProxy"),
                                 child<QLineEdit>(this, "lePortProxy"),
                                 child<QLineEdit>(this, "leUsernameProxy"),
                                 child<QLineEdit>(this, "lePasswordProxy")};
    void save() { QTest::mouseClick(child<QPushButton>(this, "btmSalva"), Qt::LeftButton); }
    // Ticked boxes, then which of address, port, credentials box, user, password
    // and the credential labels can be used, then the four texts.
    QString state() const {
        QString on;
        for (const char *name : {"leIndirizzoProxy", "lePortProxy", "chbEnableCredential",
                                 "leUsernameProxy", "lePasswordProxy", "lblUsername", "lblPassword"})
            on += child<QWidget>(this, name)->isEnabled() ? '1' : '0';
        QStringList texts;
        for (QLineEdit *field : fields)
            texts << field->text();
        return QStringLiteral("%1%2 %3 ").arg(enable->isChecked()).arg(credential->isChecked()).arg(on) +
               texts.join('|');
    }
};
} // namespace

class TestAccountDialogs : public QObject {
    Q_OBJECT
    TestHome home;
    ServiceFixture fixture;
    QNetworkCookieJar jar; // outlives every connection below
    TestAccount account;
    Setting setting;
    std::unique_ptr<QVWConn> session;
    std::unique_ptr<ChangePwdDialog> dialog;

    LocalService &service() { return fixture.service(); }
    bool signIn() {
        session = std::make_unique<QVWConn>(&jar, false);
        QSignalSpy accepted(session.get(), &QVWConn::loginSuccessful);
        session->login(account.user, account.password, true);
        return QTest::qWaitFor([&] { return accepted.count() == 1; }, kTimeout);
    }
    void type(const QStringList &typed) {
        const char *names[] = {"txtOldPassword", "txtNewPwd", "txtConfirmPwd"};
        for (int i = 0; i < 3; ++i)
            child<QLineEdit>(dialog.get(), names[i])->setText(typed.at(i));
    }
    void save() { QTest::mouseClick(child<QPushButton>(dialog.get(), "btmSalva"), Qt::LeftButton); }
    bool sending(bool on) {
        auto *loading = child<QLabel>(dialog.get(), "lblLoading");
        return loading->isVisible() == on && (loading->movie()->state() == QMovie::Running) == on &&
               child<QPushButton>(dialog.get(), "btmSalva")->isEnabled() != on &&
               child<QPushButton>(dialog.get(), "btmAnnulla")->isEnabled() != on;
    }
    // "action:status" of every request the service saw since the dialog opened.
    QString log() {
        QStringList seen;
        for (const auto &request : service().requests())
            seen << request.action + ':' + request.statusNumber;
        return seen.join(' ');
    }
    bool homeHolds(const QByteArray &bytes) {
        for (QDirIterator it(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
             it.hasNext();) {
            QFile file(it.next());
            if (file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes))
                return true;
        }
        return false;
    }

private slots:
    void initTestCase() {
        QVERIFY2(fixture.isRunning(), qPrintable(fixture.errorString()));
        account = fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), 0);
        QVERIFY(signIn());
    }

    void init() {
        // A fresh dialog on a live session; the service's password the first one.
        QVERIFY(service().activeSessionCount() > 0 || signIn());
        QVERIFY(fixture.store().setPassword(account.user, account.password));
        dialog = std::make_unique<ChangePwdDialog>(&jar);
        dialog->show();
        service().clearRequests();
    }

    void changePwd_data() {
        QTest::addColumn<QByteArray>("world"); // or "HTTP-STATUS BODY" to answer with
        QTest::addColumn<QStringList>("typed"); // old, new, confirmation
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("seen");     // by the service
        QTest::addColumn<QString>("password"); // the service's, afterwards
        const QString n = "Nuova-Parola 2";
        const QStringList change = {"segreta", n, n};
        const QString local = "Cambio Password", result = "Modifica password";
        const QString ok = "Password modificata";
        const auto row = [](const char *name, const QByteArray &world, const QStringList &typed,
                            const QString &title, const QString &text, const QString &seen,
                            const QString &password = "segreta") {
            QTest::newRow(name) << world << typed << title << text << seen << password;
        };
        row("all empty", "", {"", "", ""}, local, "Devi inserire la vecchia password", "");
        row("old empty", "", {"", n, n}, local, "Devi inserire la vecchia password", "");
        row("new empty", "", {"segreta", "", n}, local, "Devi inserire la nuova password", "");
        row("no confirmation", "", {"segreta", n, ""}, local, "Le password non corrispondono", "");
        row("case only", "", {"segreta", n, n.toLower()}, local, "Le password non corrispondono", "");
        row("not remembered", "", change, result, ok, "changePWD:38", n);
        row("remembered", "remember", {"segreta", "Ricorda-3", "Ricorda-3"}, result, ok,
            "changePWD:38", "Ricorda-3");
        row("refused", "", {"sbagliata", n, n}, result, "La vecchia password non è corretta",
            "changePWD:37");
        row("http 403", "403 <html><b>vietato</b></html>", change, result,
            "Error transferring URL - server replied: Forbidden", "changePWD:");
        row("service error",
            "500 " + serviceReply("16", "<statusdescription>&lt;i&gt;Archivio&lt;/i&gt; guasto"
                                        "</statusdescription>"),
            change, result, "<i>Archivio</i> guasto", "changePWD:");
        row("other success", "200 " + serviceReply("99", "<statusdescription>Altro</statusdescription>"),
            change, result, "Altro", "changePWD:");
        row("other success, undescribed", "200 " + serviceReply("99", ""), change, result,
            "Risposta inattesa del servizio (stato \"99\")", "changePWD:");
        row("not xml", "500 guasto", change, result, "La password non è stata modificata",
            "changePWD:");
        row("session lost without credentials", "expired", change, result,
            "La sessione è scaduta: accedi di nuovo e riprova", "changePWD:19");
        row("renewed after expiry", "renewed", {"segreta", "Seconda-7", "Seconda-7"}, result, ok,
            "changePWD:19 login:1 changePWD:38", "Terza-7");
        row("no network", "offline", change, result, "Connection refused", "");
    }
    void changePwd() {
        QFETCH(QByteArray, world);
        QFETCH(QStringList, typed);
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QString, seen);
        QFETCH(QString, password);
        const bool remember = world == "remember", success = text == "Password modificata";
        setting.setValue(QStringLiteral("saveLogin"), remember ? "1" : "0");
        setting.setValue(QStringLiteral("password"), remember ? account.password : QString());
        text.replace(QStringLiteral("URL"), fixture.restUrl().toString());
        auto *conn = dialog->findChild<QVWConn *>();
        if (world == "renewed") {
            // With credentials, as a signed-in connection has, it renews; the
            // resend reads the fields again, changed meanwhile.
            QSignalSpy accepted(conn, &QVWConn::loginSuccessful);
            conn->login(account.user, account.password, false);
            QVERIFY(QTest::qWaitFor([&] { return accepted.count() == 1; }, kTimeout));
            connect(conn, &QVWConn::retry, dialog.get(), [&] { type({"segreta", "Terza-7", "Terza-7"}); });
            service().clearRequests();
        }
        if (world == "expired" || world == "renewed")
            service().expireSessionsNow();
        LocalService::Options options = service().options();
        options.port = service().port();
        if (world == "offline")
            service().stop();
        if (const int httpStatus = world.left(3).toInt())
            service().scriptReply(httpStatus, world.mid(4), QStringLiteral("changePWD"));
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(title, text);
            type(typed);
            save();
            QVERIFY(sending(title == QLatin1String("Modifica password")));
            QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
            QCOMPARE(dialogs.boxes().first().text, text);
            QCOMPARE(dialogs.boxes().first().icon, success ? QMessageBox::Information : QMessageBox::Critical);
            QCOMPARE(dialogs.boxes().first().format, Qt::PlainText);
        }
        if (world == "renewed")
            QVERIFY(!service().requests().at(1).body.contains("forceLogin"));
        QVERIFY(fixture.isRunning() || service().start(options));
        QVERIFY(fixture.store().checkPassword(account.user, password));
        QVERIFY(sending(false));
        QCOMPARE(setting.value(QStringLiteral("password")), remember ? password : QString());
        // Typed, not remembered: on no disk.
        for (const QString &typedPassword : typed.mid(1))
            QVERIFY(typedPassword.isEmpty() || homeHolds(typedPassword.toUtf8()) == remember);
        if (success) {
            QCOMPARE(log(), seen);
            QVERIFY(!dialog->isVisible());
            QCOMPARE(dialog->result(), int(QDialog::Accepted));
            const QByteArray body = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>"
                                    "changePWD</action><newpwd>%1</newpwd><confirmpwd>%1</confirmpwd>"
                                    "<oldpwd>segreta</oldpwd></request>";
            QCOMPARE(service().requests().first().body, QString(body).arg(typed[1]).toUtf8());
            QCOMPARE(service().requests().first().header("Content-Type"),
                     QByteArray("text/xml;charset=UTF-8"));
            return;
        }
        // The dialog stays for a new attempt, answered once; it also proves
        // that nothing else went out.
        QVERIFY(dialog->isVisible());
        QVERIFY(service().activeSessionCount() > 0 || signIn());
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Modifica password"), QStringLiteral("Password modificata"));
        type({account.password, "nuova", "nuova"});
        save();
        QVERIFY(QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout));
        QCOMPARE(log().remove(QRegularExpression("login:1 ?")), (seen + " changePWD:38").trimmed());
    }

    void changePwdAnnullaCloses() {
        type({account.password, "nuova", "nuova"});
        QTest::mouseClick(child<QPushButton>(dialog.get(), "btmAnnulla"), Qt::LeftButton);
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), int(QDialog::Accepted));
        // A later request has reached the service: nothing was left to send.
        session->syncFolder();
        QVERIFY(QTest::qWaitFor([&] { return !service().requests().isEmpty(); }, kTimeout));
        QCOMPARE(log(), QStringLiteral("syncfolder:5"));
    }

    void proxySave_data() {
        QTest::addColumn<bool>("enable");
        QTest::addColumn<bool>("credential");
        QTest::addColumn<QStringList>("stored");
        QTest::addColumn<QString>("reopened");
        QTest::newRow("with credentials")
            << true << true
            << QStringList{"proxyCredential|1", "proxyPassword|p4ss", "proxyPort|8080",
                           "proxyUrl|10.0.0.8", "proxyUsername|mario"}
            << "11 1111111 10.0.0.8|8080|mario|p4ss";
        // The stored credentials go.
        QTest::newRow("without credentials") << true << false
                                             << QStringList{"proxyPort|8080", "proxyUrl|10.0.0.8"}
                                             << "10 1110000 10.0.0.8|8080||";
        QTest::newRow("disabled") << false << true << QStringList() << "00 0000000 |||";
    }
    void proxySave() {
        QFETCH(bool, enable);
        QFETCH(bool, credential);
        QFETCH(QStringList, stored);
        QFETCH(QString, reopened);
        storeProxy(true);
        setting.setValue(QStringLiteral("lastusername"), QStringLiteral("anna"));
        {
            ProxyForm form;
            QCOMPARE(form.state(), QStringLiteral("11 1111111 proxy.lan|3128|mario|p4ss"));
            form.credential->setChecked(credential);
            const QStringList typed = {"10.0.0.8", "8080", "mario", "p4ss"};
            for (int i = 0; i < 4; ++i)
                form.fields[i]->setText(typed[i]);
            form.enable->setChecked(enable);
            form.save();
        }
        QCOMPARE(proxyRows(), stored);
        QCOMPARE(setting.value(QStringLiteral("lastusername")), QStringLiteral("anna"));
        QCOMPARE(ProxyForm().state(), reopened);
    }

    void proxyUntickingProxyUnticksCredential() {
        storeProxy(true);
        ProxyForm form;
        form.enable->setChecked(false);
        QCOMPARE(form.state(), QStringLiteral("00 0000000 proxy.lan|3128|mario|p4ss"));
        // Ticked again: the credentials box follows the stored setting.
        form.enable->setChecked(true);
        QCOMPARE(form.state(), QStringLiteral("11 1111111 proxy.lan|3128|mario|p4ss"));
    }

    void proxyValidationInOrder_data() {
        QTest::addColumn<QStringList>("typed"); // address, port, user, password
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << QStringList{"", "", "", ""} << "Inserisci l'indirizzo del proxy";
        QTest::newRow("no port") << QStringList{"h", "", "", ""} << "Inserisci la porta del proxy";
        QTest::newRow("no user") << QStringList{"h", "1", "", ""} << "Inserisci il nome utente";
        QTest::newRow("no password") << QStringList{"h", "1", "u", ""} << "Inserisci la password";
    }
    void proxyValidationInOrder() {
        QFETCH(QStringList, typed);
        QFETCH(QString, message);
        storeProxy(false);
        const QStringList before = proxyRows();
        ProxyForm form;
        form.credential->setChecked(true);
        for (int i = 0; i < 4; ++i)
            form.fields[i]->setText(typed[i]);
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Impostazioni proxy"), message);
        form.save();
        QVERIFY(dialogs.allAnswered());
        QCOMPARE(dialogs.boxes().first().text, message);
        QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(proxyRows(), before);
    }

    void proxyAnnullaFinishes() {
        ProxyForm form;
        QSignalSpy finished(&form, &QDialog::finished);
        form.show();
        QTest::mouseClick(child<QPushButton>(&form, "btmAnnulla"), Qt::LeftButton);
        QVERIFY(!form.isVisible());
        QCOMPARE(finished.count(), 1);
    }
};

QUILLORA_TEST_MAIN(TestAccountDialogs)
#include "tst_account.moc"
