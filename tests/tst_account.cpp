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

#include <QNetworkCookieJar>
#include <QtWidgets>

namespace {
const QString kNew = "Nuova-Parola 2", kOk = "Password modificata";
// An office's proxy as the dialog shows it and as it is stored (see proxyState).
const QString kStored = "11 1111111 p.lan|3128|mario|p4ss proxyCredential|1 proxyPassword|p4ss "
                        "proxyPort|3128 proxyUrl|p.lan proxyUsername|mario";
const char *const kFields[] = {"leIndirizzoProxy", "lePortProxy", "leUsernameProxy",
                               "lePasswordProxy"};

// The ticked boxes; which of address, port, credentials box, user, password
// and their labels can be used; the four texts; the proxy as stored.
QString proxyState(const QWidget *d) {
    QString state = QString::number(child<QCheckBox>(d, "chbEnableProxy")->isChecked()) +
                    QString::number(child<QCheckBox>(d, "chbEnableCredential")->isChecked()) + ' ';
    for (const char *name : {"leIndirizzoProxy", "lePortProxy", "chbEnableCredential",
                             "leUsernameProxy", "lePasswordProxy", "lblUsername", "lblPassword"})
        state += child<QWidget>(d, name)->isEnabled() ? '1' : '0';
    for (const char *name : kFields)
        state += (name == kFields[0] ? ' ' : '|') + child<QLineEdit>(d, name)->text();
    const char *sql = "SELECT key, value FROM settings WHERE key LIKE 'proxy%' ORDER BY key";
    return (state + ' ' + mirrorRows(sql).join(' ')).trimmed();
}
} // namespace

class TestAccountDialogs : public QObject {
    Q_OBJECT
    TestHome home;
    ServiceFixture fixture;
    LocalService &service = fixture.service();
    QNetworkCookieJar jar; // outlives every connection below
    TestAccount account;
    Setting setting;
    std::unique_ptr<QVWConn> session;
    std::unique_ptr<ChangePwdDialog> dialog;

    bool signIn() {
        session = std::make_unique<QVWConn>(&jar, false);
        QSignalSpy accepted(session.get(), &QVWConn::loginSuccessful);
        session->login(account.user, account.password, true);
        return QTest::qWaitFor([&] { return accepted.count() == 1; }, kTimeout);
    }
    template <class T = QPushButton> T *ui(const char *n) { return child<T>(dialog.get(), n); }
    void type(const QStringList &typed) {
        int i = 0;
        for (const char *name : {"txtOldPassword", "txtNewPwd", "txtConfirmPwd"})
            ui<QLineEdit>(name)->setText(typed[i++]);
    }
    QString log() { return requestLog(service); } // since the dialog opened
    // Types and saves; the box that must follow, once shown.
    MessageBox::Request save(const QStringList &typed, const QString &title, const QString &text) {
        ScriptedDialogs dialogs;
        dialogs.expectBox(title, text);
        type(typed);
        ui("btmSalva")->click();
        const bool shown = QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout);
        return shown ? dialogs.boxes().first() : MessageBox::Request();
    }

private slots:
    void init() { // a fresh dialog on a live session, the service's password the first one
        QVERIFY2(fixture.isRunning(), qPrintable(fixture.errorString()));
        account = account.user.isEmpty() ? fixture.createAccount("anna", "segreta", 0) : account;
        QVERIFY(service.activeSessionCount() > 0 || signIn());
        QVERIFY(fixture.store().setPassword(account.user, account.password));
        dialog = std::make_unique<ChangePwdDialog>(&jar);
        dialog->show();
        service.clearRequests();
    }

    void changePwd_data() {
        // How the service is (or "HTTP-STATUS BODY" it answers with), what is typed (old, new,
        // confirmation), the text of the box and what the service saw. (How the connection
        // words a network or HTTP failure, which is shown as it is, the connection test says.)
        for (const char *column : {"world", "typed", "text", "seen"})
            QTest::addColumn<QString>(column);
        const auto row = [](const char *name, const QString &world, const QString &typed,
                            const QString &text, const QString &seen = QString()) {
            QTest::newRow(name) << world << typed << text << seen;
        };
        const QString change = "segreta|" + kNew + '|' + kNew;
        const QString other = "changePWD:"; // an answer the service did not write
        const QString said = "<statusdescription>%1</statusdescription>";
        // Checked in this order before anything is sent.
        row("all empty", "", "||", "Devi inserire la vecchia password");
        row("new empty", "", "segreta||" + kNew, "Devi inserire la nuova password");
        row("case only", "", "segreta|" + kNew + '|' + kNew.toLower(),
            "Le password non corrispondono");
        row("not remembered", "", change, kOk, "changePWD:38");
        row("remembered", "remember", "segreta|Ricorda-3|Ricorda-3", kOk, "changePWD:38");
        row("refused", "", "x" + change.mid(7), "La vecchia password non è corretta",
            "changePWD:37");
        row("service error", "500 " + serviceReply("16", said.arg("&lt;i&gt;Archivio&lt;/i&gt;")),
            change, "<i>Archivio</i>", other);
        row("other success", "200 " + serviceReply("99", said.arg("Altro")), change, "Altro",
            other);
        row("other success, undescribed", "200 " + serviceReply("99", ""), change,
            "Risposta inattesa del servizio (stato \"99\")", other);
        row("not xml", "500 guasto", change, "La password non è stata modificata", other);
        row("session lost without credentials", "expired", change,
            "La sessione è scaduta: accedi di nuovo e riprova", "changePWD:19");
        row("renewed after expiry", "renewed", "segreta|Seconda-7|Seconda-7", kOk,
            "changePWD:19 login:1 changePWD:38");
    }
    void changePwd() {
        QFETCH(QString, world);
        QFETCH(QString, text);
        QFETCH(QString, seen);
        QFETCH(QString, typed);
        const QStringList fields = typed.split('|');
        const bool remember = world == "remember", ok = text == kOk;
        setting.setValue("saveLogin", remember ? "1" : "0");
        setting.setValue("password", remember ? account.password : "");
        auto *conn = dialog->findChild<QVWConn *>();
        if (world == "renewed") { // with credentials, as a signed-in connection has, it renews
            conn->setCredentials(account.user, account.password);
            // The resend reads the fields again, changed meanwhile.
            connect(conn, &QVWConn::retry, this, [&] { type({"segreta", "Terza-7", "Terza-7"}); });
        }
        if (world == "expired" || world == "renewed")
            service.expireSessionsNow();
        if (const int httpStatus = world.left(3).toInt())
            service.scriptReply(httpStatus, world.mid(4).toUtf8(), "changePWD");
        const bool local = world.isEmpty() && seen.isEmpty();
        const auto box = save(fields, local ? "Cambio Password" : "Modifica password", text);
        QVERIFY(box.text == text && box.format == Qt::PlainText);
        QCOMPARE(box.icon, ok ? QMessageBox::Information : QMessageBox::Critical);
        const QString now = !ok ? account.password : world == "renewed" ? "Terza-7" : fields[1];
        QVERIFY(fixture.store().checkPassword(account.user, now));
        QVERIFY(ui<QLabel>("lblLoading")->isHidden() && ui("btmAnnulla")->isEnabled());
        QCOMPARE(setting.value("password"), remember ? now : "");
        for (const QString &typedPassword : fields.mid(1)) { // not remembered: on no disk
            const auto grep = QStringList{"-rqF", "--", typedPassword, home.path()};
            QVERIFY(typedPassword.isEmpty() || (QProcess::execute("grep", grep) == 0) == remember);
        }
        if (ok) {
            QVERIFY(log() == seen && !dialog->isVisible() && dialog->result() == QDialog::Accepted);
            const QByteArray pwd = fields[1].toUtf8();
            QCOMPARE(service.requests().first().body,
                     "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>changePWD</action>"
                     "<newpwd>" + pwd + "</newpwd><confirmpwd>" + pwd +
                         "</confirmpwd><oldpwd>segreta</oldpwd></request>");
            // A renewal leaves the user's other sessions alone.
            QVERIFY(!service.requests("login").value(0).body.contains("forceLogin"));
            return;
        }
        // The dialog stays for a new attempt, answered once; the log then also
        // shows that nothing else went out.
        QVERIFY(dialog->isVisible() && (service.activeSessionCount() > 0 || signIn()));
        QCOMPARE(save({"segreta", "nuova", "nuova"}, "Modifica password", kOk).text, kOk);
        QCOMPARE(log().remove(QRegularExpression("login:1 ?")), (seen + " changePWD:38").trimmed());
    }

    void changePwdAnnullaCloses() {
        type({account.password, "nuova", "nuova"});
        ui("btmAnnulla")->click();
        QVERIFY(!dialog->isVisible() && dialog->result() == QDialog::Accepted);
        session->syncFolder(); // a later request: nothing was left to send before it
        QVERIFY(QTest::qWaitFor([&] { return !service.requests().isEmpty(); }, kTimeout));
        QCOMPARE(log(), QString("syncfolder:5"));
    }

    void proxy_data() {
        // Proxy ticked or not, then address, port[, user, password: credentials ticked]; the box;
        // the dialog and the settings afterwards.
        for (const char *column : {"typed", "message", "after"})
            QTest::addColumn<QString>(column);
        const auto row = [](const char *name, const QString &typed, const QString &message,
                            const QString &after = kStored) {
            QTest::newRow(name) << typed << message << after;
        };
        row("with credentials", "1|10.0.0.8|80|anna|pw", "",
            "11 1111111 10.0.0.8|80|anna|pw proxyCredential|1 proxyPassword|pw proxyPort|80 "
            "proxyUrl|10.0.0.8 proxyUsername|anna");
        row("without credentials, which go", "1|10.0.0.8|80", "",
            "10 1110000 10.0.0.8|80|| proxyPort|80 proxyUrl|10.0.0.8");
        row("disabled", "0|h|1|u|p", "", "00 0000000 |||");
        row("no address", "1||||", "Inserisci l'indirizzo del proxy");
        row("no port", "1|h|||", "Inserisci la porta del proxy");
        row("no user", "1|h|1||", "Inserisci il nome utente");
        row("no password", "1|h|1|u|", "Inserisci la password");
    }
    void proxy() {
        QFETCH(QString, typed);
        QFETCH(QString, message);
        QFETCH(QString, after);
        const QStringList fields = typed.split('|');
        for (const QString &pair : kStored.split(' ').mid(2))
            setting.setValue(pair.section('|', 0, 0), pair.section('|', 1));
        setting.setValue("lastusername", "anna");
        ProxyDialog form;
        auto *proxy = child<QCheckBox>(&form, "chbEnableProxy");
        // Unticking the proxy unticks its credentials; ticked again, they
        // follow what is stored.
        proxy->setChecked(false);
        QVERIFY(proxyState(&form).startsWith("00 0000000 p.lan|3128|mario|p4ss"));
        proxy->setChecked(true);
        QVERIFY(proxyState(&form).startsWith("11 1111111 "));
        child<QCheckBox>(&form, "chbEnableCredential")->setChecked(fields.size() == 5);
        for (int i = 0; i < 4; ++i)
            child<QLineEdit>(&form, kFields[i])->setText(fields.value(i + 1));
        proxy->setChecked(fields[0] == "1");
        ScriptedDialogs dialogs;
        if (!message.isEmpty())
            dialogs.expectBox("Impostazioni proxy", message);
        child<QPushButton>(&form, "btmSalva")->click();
        QVERIFY(dialogs.allAnswered() && dialogs.boxes().value(0).text == message);
        QVERIFY(message.isEmpty() || dialogs.boxes().first().icon == QMessageBox::Critical);
        QCOMPARE(proxyState(std::make_unique<ProxyDialog>().get()), after); // reopened
        QCOMPARE(setting.value("lastusername"), QString("anna"));
    }
};

QUILLORA_TEST_MAIN(TestAccountDialogs)
#include "tst_account.moc"
