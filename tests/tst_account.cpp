#include "ScriptedDialogs.h"
#include "ServiceFixture.h"
#include "ServiceXml.h"
#include "TestHome.h"
#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "service/QVWConn.h"
#include "storage/Database.h"
#include "storage/Setting.h"

#include <QCheckBox>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMovie>
#include <QNetworkCookieJar>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

#include <memory>

namespace {

const int kTimeout = 60000;

// The proxy keys as stored: a removed key is absent, not empty.
QMap<QString, QString> storedProxyKeys() {
    QMap<QString, QString> keys;
    Database database;
    if (!database.open())
        return keys;
    {
        QSqlQuery q(database.db);
        q.exec(QStringLiteral("SELECT key, value FROM settings WHERE key LIKE 'proxy%'"));
        while (q.next())
            keys.insert(q.value(0).toString(), q.value(1).toString());
    }
    database.close();
    return keys;
}

// A signed-in session on the shared jar, as the main window leaves it, and
// the change password dialog on that jar (declared last: it goes first).
struct PwdSetup {
    TestHome home;
    ServiceFixture fixture;
    std::unique_ptr<QNetworkCookieJar> jar = std::make_unique<QNetworkCookieJar>();
    Setting setting;
    TestAccount account;
    std::unique_ptr<QVWConn> session;
    std::unique_ptr<ChangePwdDialog> dialog;

    bool start() {
        if (!fixture.isRunning())
            return false;
        account = fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), 0);
        session = std::make_unique<QVWConn>(jar.get(), false);
        QSignalSpy accepted(session.get(), &QVWConn::loginSuccessful);
        session->login(account.user, account.password, true);
        if (!QTest::qWaitFor([&] { return accepted.count() == 1; }, kTimeout))
            return false;
        dialog = std::make_unique<ChangePwdDialog>(jar.get());
        dialog->show();
        fixture.service().clearRequests();
        return true;
    }
    template <class T> T *w(const char *name) const {
        return dialog->findChild<T *>(QLatin1String(name));
    }
    void type(const QString &oldPwd, const QString &newPwd, const QString &confirm) {
        w<QLineEdit>("txtOldPassword")->setText(oldPwd);
        w<QLineEdit>("txtNewPwd")->setText(newPwd);
        w<QLineEdit>("txtConfirmPwd")->setText(confirm);
    }
    void save() { QTest::mouseClick(w<QPushButton>("btmSalva"), Qt::LeftButton); }
    bool sending() const {
        return !w<QLabel>("lblLoading")->isHidden() &&
               w<QLabel>("lblLoading")->movie()->state() == QMovie::Running &&
               !w<QPushButton>("btmSalva")->isEnabled() &&
               !w<QPushButton>("btmAnnulla")->isEnabled();
    }
    bool idle() const {
        return w<QLabel>("lblLoading")->isHidden() &&
               w<QLabel>("lblLoading")->movie()->state() != QMovie::Running &&
               w<QPushButton>("btmSalva")->isEnabled() && w<QPushButton>("btmAnnulla")->isEnabled();
    }
    QList<LocalService::RecordedRequest> changes() {
        return fixture.service().requests(QStringLiteral("changePWD"));
    }
    // A complete change that the service accepts; false when it does not
    // end with "Password modificata".
    bool changeTo(const QString &newPwd) {
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Password modificata"));
        type(account.password, newPwd, newPwd);
        save();
        return QTest::qWaitFor([&] { return dialogs.allAnswered(); }, kTimeout) &&
               fixture.store().checkPassword(account.user, newPwd);
    }
};

// A home and the proxy dialog's widgets.
struct ProxyForm {
    explicit ProxyForm(ProxyDialog &dialog)
        : dialog(dialog) {}
    ProxyDialog &dialog;
    QCheckBox *enable() const { return box("chbEnableProxy"); }
    QCheckBox *credential() const { return box("chbEnableCredential"); }
    QLineEdit *address() const { return edit("leIndirizzoProxy"); }
    QLineEdit *port() const { return edit("lePortProxy"); }
    QLineEdit *user() const { return edit("leUsernameProxy"); }
    QLineEdit *password() const { return edit("lePasswordProxy"); }
    QLabel *label(const char *name) const {
        return dialog.findChild<QLabel *>(QLatin1String(name));
    }
    void save() {
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btmSalva")),
                          Qt::LeftButton);
    }
    bool credentialFieldsEnabled() const {
        return user()->isEnabled() && password()->isEnabled() &&
               label("lblUsername")->isEnabled() && label("lblPassword")->isEnabled();
    }
    bool credentialFieldsDisabled() const {
        return !user()->isEnabled() && !password()->isEnabled() &&
               !label("lblUsername")->isEnabled() && !label("lblPassword")->isEnabled();
    }

private:
    QCheckBox *box(const char *name) const {
        return dialog.findChild<QCheckBox *>(QLatin1String(name));
    }
    QLineEdit *edit(const char *name) const {
        return dialog.findChild<QLineEdit *>(QLatin1String(name));
    }
};

void storeProxy(bool credential) {
    Setting setting;
    setting.setValue(QStringLiteral("proxyUrl"), QStringLiteral("proxy.ufficio.lan"));
    setting.setValue(QStringLiteral("proxyPort"), QStringLiteral("3128"));
    if (credential) {
        setting.setValue(QStringLiteral("proxyCredential"), QStringLiteral("1"));
        setting.setValue(QStringLiteral("proxyUsername"), QStringLiteral("mario"));
        setting.setValue(QStringLiteral("proxyPassword"), QStringLiteral("p4ss"));
    }
}

} // namespace

class TestAccountDialogs : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        // The test CA lives for the whole process: make it before any home
        // moves the temporary directory.
        QVERIFY(QFileInfo::exists(ServiceFixture::caCertificatePath()));
    }

    // --- change password ------------------------------------------------------

    void changePwdForm() {
        TestHome home;
        QNetworkCookieJar jar;
        ChangePwdDialog dialog(&jar);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Cambio password"));
        QCOMPARE(dialog.minimumSize(), dialog.maximumSize());
        QCOMPARE(dialog.size(), dialog.minimumSize());
        auto text = [&](const char *name) {
            return dialog.findChild<QLabel *>(QLatin1String(name))->text();
        };
        QCOMPARE(text("label_4"), QStringLiteral("Inserisci la vecchia password"));
        QCOMPARE(text("label"), QStringLiteral("Inserisci la nuova password"));
        QCOMPARE(text("label_2"), QStringLiteral("Conferma la nuova password"));
        QCOMPARE(dialog.findChild<QLabel *>(QStringLiteral("label_3"))->textFormat(), Qt::RichText);
        for (const char *name : {"txtOldPassword", "txtNewPwd", "txtConfirmPwd"})
            QCOMPARE(dialog.findChild<QLineEdit *>(QLatin1String(name))->echoMode(),
                     QLineEdit::Password);
        QVERIFY(dialog.findChild<QWidget *>(QStringLiteral("formWidget")));
        QVERIFY(dialog.findChild<QWidget *>(QStringLiteral("horizontalWidget")));
        auto *loading = dialog.findChild<QLabel *>(QStringLiteral("lblLoading"));
        QVERIFY(loading->isHidden());
        QVERIFY(loading->movie());
        QCOMPARE(loading->movie()->fileName(), QStringLiteral(":/images/loading.gif"));
        QVERIFY(loading->movie()->state() != QMovie::Running);
        auto *save = dialog.findChild<QPushButton *>(QStringLiteral("btmSalva"));
        auto *cancel = dialog.findChild<QPushButton *>(QStringLiteral("btmAnnulla"));
        QCOMPARE(save->text(), QStringLiteral("Salva"));
        QCOMPARE(cancel->text(), QStringLiteral("Annulla"));
        QVERIFY(save->isEnabled());
        QVERIFY(cancel->isEnabled());
    }

    void changePwdChecksInOrder_data() {
        QTest::addColumn<QString>("oldPwd");
        QTest::addColumn<QString>("newPwd");
        QTest::addColumn<QString>("confirm");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty")
            << QString() << QString() << QString() << "Devi inserire la vecchia password";
        QTest::newRow("old empty") << QString() << "nuova"
                                   << "nuova"
                                   << "Devi inserire la vecchia password";
        QTest::newRow("new empty") << "segreta" << QString() << "nuova"
                                   << "Devi inserire la nuova password";
        QTest::newRow("no confirmation") << "segreta"
                                         << "nuova" << QString() << "Le password non corrispondono";
        QTest::newRow("case only") << "segreta"
                                   << "Nuova"
                                   << "nuova"
                                   << "Le password non corrispondono";
    }
    void changePwdChecksInOrder() {
        QFETCH(QString, oldPwd);
        QFETCH(QString, newPwd);
        QFETCH(QString, confirm);
        QFETCH(QString, message);
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(message);
            s.type(oldPwd, newPwd, confirm);
            s.save();
            QVERIFY(dialogs.allAnswered());
            QCOMPARE(dialogs.boxes().size(), 1);
            QCOMPARE(dialogs.boxes().first().text, message);
            QCOMPARE(dialogs.boxes().first().title, QStringLiteral("Cambio Password"));
            QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
            QVERIFY(s.idle());
            QVERIFY(s.dialog->isVisible());
        }
        // Only the complete attempt reaches the service.
        QVERIFY(s.changeTo(QStringLiteral("nuova")));
        QCOMPARE(s.changes().size(), 1);
    }

    void changePwdSuccess_data() {
        QTest::addColumn<bool>("saved");
        QTest::newRow("credentials saved") << true;
        QTest::newRow("credentials not saved") << false;
    }
    void changePwdSuccess() {
        QFETCH(bool, saved);
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.setting.setValue(QStringLiteral("saveLogin"), saved ? "1" : "0");
        s.setting.setValue(QStringLiteral("password"), saved ? s.account.password : QString());
        s.fixture.service().delayReply(1500, QStringLiteral("changePWD"));

        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Password modificata"));
        s.type(s.account.password, QStringLiteral("Nuova-Parola 2"),
               QStringLiteral("Nuova-Parola 2"));
        s.save();
        QVERIFY(s.sending());
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        const MessageBox::Request box = dialogs.boxes().first();
        QCOMPARE(box.title, QStringLiteral("Modifica password"));
        QCOMPARE(box.icon, QMessageBox::Information);
        QVERIFY(!s.dialog->isVisible());
        QCOMPARE(s.dialog->result(), int(QDialog::Accepted));
        QVERIFY(s.idle());

        // The password a user chose not to remember stays off the disk.
        QCOMPARE(s.setting.value(QStringLiteral("password")),
                 saved ? QStringLiteral("Nuova-Parola 2") : QString());
        QVERIFY(s.fixture.store().checkPassword(s.account.user, QStringLiteral("Nuova-Parola 2")));
        QVERIFY(!s.fixture.store().checkPassword(s.account.user, s.account.password));

        QCOMPARE(s.changes().size(), 1);
        const LocalService::RecordedRequest request = s.changes().first();
        QCOMPARE(request.body,
                 QByteArray("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>changePWD"
                            "</action><newpwd>Nuova-Parola 2</newpwd><confirmpwd>Nuova-Parola 2"
                            "</confirmpwd><oldpwd>segreta</oldpwd></request>"));
        QCOMPARE(request.header("Content-Type"), QByteArray("text/xml;charset=UTF-8"));
        QCOMPARE(request.statusNumber, QStringLiteral("38"));
        QVERIFY(!request.sessionCookie.isEmpty());
    }

    void changePwdRefused() {
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Modifica password"));
            s.type(QStringLiteral("sbagliata"), QStringLiteral("nuova"), QStringLiteral("nuova"));
            s.save();
            QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
            const MessageBox::Request box = dialogs.boxes().first();
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.text, QStringLiteral("La vecchia password non è corretta"));
            QCOMPARE(box.format, Qt::PlainText);
        }
        QVERIFY(s.idle());
        QVERIFY(s.dialog->isVisible());
        QCOMPARE(s.changes().first().statusNumber, QStringLiteral("37"));
        QVERIFY(s.fixture.store().checkPassword(s.account.user, s.account.password));

        // A new attempt is answered once: the old connections are gone.
        QVERIFY(s.changeTo(QStringLiteral("nuova")));
        QCOMPARE(s.changes().size(), 2);
    }

    void changePwdOtherFailuresEndTheAttempt_data() {
        QTest::addColumn<int>("httpStatus");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QString>("message");
        QTest::newRow("http 403") << 403 << QByteArray("<html><b>vietato</b></html>") << QString();
        QTest::newRow("service error")
            << 500
            << serviceReply("16", "<statusdescription>&lt;i&gt;Archivio&lt;/i&gt; "
                                  "guasto</statusdescription>")
            << "<i>Archivio</i> guasto";
        QTest::newRow("unexpected success")
            << 200 << serviceReply("99", "<statusdescription>Altro</statusdescription>") << "Altro";
        QTest::newRow("not xml") << 500 << QByteArray("guasto") << QString();
    }
    void changePwdOtherFailuresEndTheAttempt() {
        QFETCH(int, httpStatus);
        QFETCH(QByteArray, reply);
        QFETCH(QString, message);
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.fixture.service().scriptReply(httpStatus, reply, QStringLiteral("changePWD"));
        {
            ScriptedDialogs dialogs;
            dialogs.expectBox(QStringLiteral("Modifica password"));
            s.type(s.account.password, QStringLiteral("nuova"), QStringLiteral("nuova"));
            s.save();
            QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
            const MessageBox::Request box = dialogs.boxes().first();
            QCOMPARE(box.icon, QMessageBox::Critical);
            QCOMPARE(box.format, Qt::PlainText);
            QVERIFY(!box.text.isEmpty());
            if (!message.isEmpty())
                QCOMPARE(box.text, message);
        }
        QVERIFY(s.idle());
        QVERIFY(s.dialog->isVisible());
        QVERIFY(s.changeTo(QStringLiteral("nuova")));
    }

    void changePwdNoNetwork() {
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.fixture.service().injectFault(LocalService::Fault::CloseBeforeReply,
                                        QStringLiteral("changePWD"));
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Modifica password"));
        s.type(s.account.password, QStringLiteral("nuova"), QStringLiteral("nuova"));
        s.save();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        QVERIFY(!dialogs.boxes().first().text.isEmpty());
        QVERIFY(s.idle());
    }

    void changePwdRetryAfterExpiry() {
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        // Give the dialog's connection credentials, as a signed-in one has.
        auto *conn = s.dialog->findChild<QVWConn *>();
        QVERIFY(conn);
        QSignalSpy accepted(conn, &QVWConn::loginSuccessful);
        conn->login(s.account.user, s.account.password, false);
        QTRY_COMPARE_WITH_TIMEOUT(accepted.count(), 1, kTimeout);

        s.fixture.service().expireSessionsNow();
        // Changed while the session is renewed (this runs before the
        // dialog's own handler of the same signal): the resend reads the
        // fields again.
        QObject::connect(conn, &QVWConn::retry, s.dialog.get(), [&] {
            s.type(s.account.password, QStringLiteral("terza"), QStringLiteral("terza"));
        });
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Password modificata"));
        s.type(s.account.password, QStringLiteral("seconda"), QStringLiteral("seconda"));
        s.save();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);

        QCOMPARE(s.changes().size(), 2);
        QCOMPARE(s.changes().at(0).statusNumber, QStringLiteral("19"));
        QCOMPARE(s.changes().at(0).element(QStringLiteral("newpwd")), QStringLiteral("seconda"));
        QCOMPARE(s.changes().at(1).statusNumber, QStringLiteral("38"));
        QCOMPARE(s.changes().at(1).element(QStringLiteral("newpwd")), QStringLiteral("terza"));
        QCOMPARE(s.changes().at(1).element(QStringLiteral("confirmpwd")), QStringLiteral("terza"));
        QVERIFY(s.fixture.store().checkPassword(s.account.user, QStringLiteral("terza")));
        QVERIFY(!s.dialog->isVisible());
        // The renewal between the two: the connection's own login.
        const QList<LocalService::RecordedRequest> logins =
            s.fixture.service().requests(QStringLiteral("login"));
        QCOMPARE(logins.size(), 2);
        QCOMPARE(logins.last().statusNumber, QStringLiteral("1"));
        QVERIFY(!logins.last().body.contains("forceLogin"));
    }

    void changePwdSessionLostWithoutCredentials() {
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.fixture.service().expireSessionsNow();
        ScriptedDialogs dialogs;
        dialogs.expectBox(QStringLiteral("Modifica password"));
        s.type(s.account.password, QStringLiteral("nuova"), QStringLiteral("nuova"));
        s.save();
        QTRY_VERIFY_WITH_TIMEOUT(dialogs.allAnswered(), kTimeout);
        QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
        QVERIFY(dialogs.boxes().first().text.contains(QStringLiteral("sessione")));
        QVERIFY(s.idle());
        QCOMPARE(s.changes().size(), 1);
        QCOMPARE(s.changes().first().statusNumber, QStringLiteral("19"));
        QVERIFY(s.fixture.store().checkPassword(s.account.user, s.account.password));
    }

    void changePwdAnnullaCloses() {
        PwdSetup s;
        QVERIFY2(s.start(), qPrintable(s.fixture.errorString()));
        s.type(s.account.password, QStringLiteral("nuova"), QStringLiteral("nuova"));
        QTest::mouseClick(s.w<QPushButton>("btmAnnulla"), Qt::LeftButton);
        QVERIFY(!s.dialog->isVisible());
        QCOMPARE(s.dialog->result(), int(QDialog::Accepted));
        QCoreApplication::processEvents();
        QVERIFY(s.changes().isEmpty());
    }

    // --- proxy ----------------------------------------------------------------

    void proxyForm() {
        TestHome home;
        ProxyDialog dialog;
        ProxyForm f(dialog);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Impostazioni proxy"));
        QCOMPARE(dialog.size(), QSize(300, 226));
        QCOMPARE(f.enable()->text(), QStringLiteral("Abilita proxy"));
        QCOMPARE(f.credential()->text(), QStringLiteral("Il server richiede una password"));
        QCOMPARE(f.address()->placeholderText(), QStringLiteral("Iindirizzo"));
        QCOMPARE(f.port()->placeholderText(), QStringLiteral("Porta"));
        QCOMPARE(f.label("lblUsername")->text(), QStringLiteral("Nome utente:"));
        QCOMPARE(f.label("lblPassword")->text(), QStringLiteral("Password:"));
        QCOMPARE(f.password()->echoMode(), QLineEdit::Password);
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("btmSalva"))->text(),
                 QStringLiteral("Salva"));
        QCOMPARE(dialog.findChild<QPushButton *>(QStringLiteral("btmAnnulla"))->text(),
                 QStringLiteral("Annulla"));
        QVERIFY(dialog.layout()->minimumSize().height() <= 226);
        QVERIFY(dialog.layout()->minimumSize().width() <= 300);

        // No proxy stored: everything off and empty.
        QVERIFY(!f.enable()->isChecked());
        QVERIFY(!f.address()->isEnabled());
        QVERIFY(!f.port()->isEnabled());
        QVERIFY(!f.credential()->isChecked());
        QVERIFY(!f.credential()->isEnabled());
        QVERIFY(f.credentialFieldsDisabled());
        for (QLineEdit *e : {f.address(), f.port(), f.user(), f.password()})
            QVERIFY(e->text().isEmpty());
    }

    void proxySaveWithCredentialsAndReopen() {
        TestHome home;
        Setting setting;
        {
            ProxyDialog dialog;
            ProxyForm f(dialog);
            dialog.show();
            f.enable()->setChecked(true);
            QVERIFY(f.address()->isEnabled());
            QVERIFY(f.credential()->isEnabled());
            QVERIFY(f.credentialFieldsDisabled());
            f.credential()->setChecked(true);
            QVERIFY(f.credentialFieldsEnabled());
            f.address()->setText(QStringLiteral("10.0.0.8"));
            f.port()->setText(QStringLiteral("8080"));
            f.user()->setText(QStringLiteral("mario"));
            f.password()->setText(QStringLiteral("p4ss"));
            f.save();
            QVERIFY(dialog.isVisible());
        }
        const QMap<QString, QString> expected = {
            {QStringLiteral("proxyUrl"), QStringLiteral("10.0.0.8")},
            {QStringLiteral("proxyPort"), QStringLiteral("8080")},
            {QStringLiteral("proxyCredential"), QStringLiteral("1")},
            {QStringLiteral("proxyUsername"), QStringLiteral("mario")},
            {QStringLiteral("proxyPassword"), QStringLiteral("p4ss")}};
        QCOMPARE(storedProxyKeys(), expected);

        ProxyDialog reopened;
        ProxyForm f(reopened);
        QVERIFY(f.enable()->isChecked());
        QVERIFY(f.credential()->isChecked());
        QVERIFY(f.credential()->isEnabled());
        QVERIFY(f.address()->isEnabled());
        QVERIFY(f.port()->isEnabled());
        QVERIFY(f.credentialFieldsEnabled());
        QCOMPARE(f.address()->text(), QStringLiteral("10.0.0.8"));
        QCOMPARE(f.port()->text(), QStringLiteral("8080"));
        QCOMPARE(f.user()->text(), QStringLiteral("mario"));
        QCOMPARE(f.password()->text(), QStringLiteral("p4ss"));
    }

    void proxySaveWithoutCredentialsRemovesThem() {
        TestHome home;
        storeProxy(true);
        ProxyDialog dialog;
        ProxyForm f(dialog);
        QVERIFY(f.credential()->isChecked());
        f.credential()->setChecked(false);
        QVERIFY(f.credentialFieldsDisabled());
        f.address()->setText(QStringLiteral("proxy2.ufficio.lan"));
        f.port()->setText(QStringLiteral("abc"));
        f.save();
        // The port is kept as typed.
        const QMap<QString, QString> expected = {
            {QStringLiteral("proxyUrl"), QStringLiteral("proxy2.ufficio.lan")},
            {QStringLiteral("proxyPort"), QStringLiteral("abc")}};
        QCOMPARE(storedProxyKeys(), expected);
    }

    void proxySaveDisabledRemovesAll() {
        TestHome home;
        Setting setting;
        storeProxy(true);
        setting.setValue(QStringLiteral("lastusername"), QStringLiteral("anna"));
        ProxyDialog dialog;
        ProxyForm f(dialog);
        QVERIFY(f.enable()->isChecked());
        f.enable()->setChecked(false);
        f.save();
        QVERIFY(storedProxyKeys().isEmpty());
        QCOMPARE(setting.value(QStringLiteral("lastusername")), QStringLiteral("anna"));

        ProxyDialog reopened;
        ProxyForm r(reopened);
        QVERIFY(!r.enable()->isChecked());
        QVERIFY(!r.address()->isEnabled());
        QVERIFY(r.address()->text().isEmpty());
    }

    void proxyUntickingProxyUnticksCredential() {
        TestHome home;
        storeProxy(true);
        ProxyDialog dialog;
        ProxyForm f(dialog);
        QVERIFY(f.credential()->isChecked());
        f.enable()->setChecked(false);
        QVERIFY(!f.credential()->isChecked());
        QVERIFY(!f.credential()->isEnabled());
        QVERIFY(!f.address()->isEnabled());
        QVERIFY(!f.port()->isEnabled());
        QVERIFY(f.credentialFieldsDisabled());
        // Ticked again: the credentials box follows the stored setting.
        f.enable()->setChecked(true);
        QVERIFY(f.credential()->isChecked());
        QVERIFY(f.credentialFieldsEnabled());
    }

    void proxyValidationInOrder_data() {
        QTest::addColumn<QString>("address");
        QTest::addColumn<QString>("port");
        QTest::addColumn<bool>("credential");
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<QString>("message");
        QTest::newRow("all empty") << QString() << QString() << true << QString() << QString()
                                   << "Inserisci l'indirizzo del proxy";
        QTest::newRow("no port") << "10.0.0.8" << QString() << true << QString() << QString()
                                 << "Inserisci la porta del proxy";
        QTest::newRow("no user") << "10.0.0.8"
                                 << "8080" << true << QString() << QString()
                                 << "Inserisci il nome utente";
        QTest::newRow("no password")
            << "10.0.0.8"
            << "8080" << true << "mario" << QString() << "Inserisci la password";
    }
    void proxyValidationInOrder() {
        QFETCH(QString, address);
        QFETCH(QString, port);
        QFETCH(bool, credential);
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(QString, message);
        TestHome home;
        storeProxy(false);
        const QMap<QString, QString> before = storedProxyKeys();
        ProxyDialog dialog;
        ProxyForm f(dialog);
        f.credential()->setChecked(credential);
        f.address()->setText(address);
        f.port()->setText(port);
        f.user()->setText(user);
        f.password()->setText(password);
        ScriptedDialogs dialogs;
        dialogs.expectBox(message);
        f.save();
        QVERIFY(dialogs.allAnswered());
        QCOMPARE(dialogs.boxes().size(), 1);
        QCOMPARE(dialogs.boxes().first().title, QStringLiteral("Impostazioni proxy"));
        QCOMPARE(dialogs.boxes().first().text, message);
        QCOMPARE(dialogs.boxes().first().icon, QMessageBox::Critical);
        QCOMPARE(storedProxyKeys(), before);
    }

    void proxyAnnullaFinishes() {
        TestHome home;
        ProxyDialog dialog;
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.show();
        QTest::mouseClick(dialog.findChild<QPushButton *>(QStringLiteral("btmAnnulla")),
                          Qt::LeftButton);
        QVERIFY(!dialog.isVisible());
        QCOMPARE(finished.count(), 1);
    }
};

QTEST_MAIN(TestAccountDialogs)
#include "tst_account.moc"
