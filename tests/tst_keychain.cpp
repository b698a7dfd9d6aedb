#include "ScriptedDialogs.h"
#include "Session.h"
#include "TestMain.h"
#include "mainwindow/CoreMain.h"
#include "service/LoginDialog.h"
#include "storage/Database.h"
#include "storage/Keychain.h"
#include "storage/Setting.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusVariant>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSqlDatabase>
#include <QSqlQuery>

#include <csignal>

namespace {

// True under tests/support/with-keyring.sh, whose keyring is private to this run.
bool privateKeyring() {
    return !qgetenv("QUILLORA_TEST_KEYRING").isEmpty() &&
           qgetenv("QUILLORA_TEST_KEYRING") == qgetenv("DBUS_SESSION_BUS_ADDRESS");
}

// What the desktop's own tool finds in the keyring; "" when nothing.
QString keyringEntry(const QString &key) {
    QProcess tool;
    tool.start(QStringLiteral("secret-tool"),
               {QStringLiteral("lookup"), QStringLiteral("server"), QStringLiteral("Quillora Lite"),
                QStringLiteral("user"), key});
    return tool.waitForFinished(kTimeout) ? QString::fromUtf8(tool.readAllStandardOutput())
                                          : QStringLiteral("<secret-tool did not end>");
}

// The table as it was before there was a keychain to keep the passwords.
void storeInClearText(const QMap<QString, QString> &values) {
    Database database;
    QVERIFY(database.open());
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QSqlQuery query(database.db);
        query.prepare("REPLACE INTO settings (key, value) VALUES (?, ?)");
        query.addBindValue(it.key());
        query.addBindValue(it.value());
        QVERIFY(query.exec());
    }
    database.close();
}

// The keys of the passwords sqlite3 finds in the file, space-separated.
QString passwordsInTable(const TestHome &home) {
    QProcess sqlite;
    sqlite.start(
        QStringLiteral("sqlite3"),
        {home.databaseFile(), QStringLiteral("SELECT key FROM settings WHERE key IN "
                                             "('password', 'proxyPassword') ORDER BY key")});
    if (!sqlite.waitForFinished(kTimeout) || sqlite.exitCode() != 0)
        return QStringLiteral("<sqlite3 failed>");
    return QString::fromUtf8(sqlite.readAllStandardOutput()).simplified();
}

// strings(1) on the mirror and its log: are the bytes anywhere at all?
bool fileHolds(const TestHome &home, const QString &text) {
    QStringList files{home.databaseFile()};
    if (QFile::exists(home.databaseFile() + "-wal"))
        files << home.databaseFile() + "-wal";
    QProcess strings;
    strings.start(QStringLiteral("strings"), files);
    if (!strings.waitForFinished(kTimeout) || strings.exitCode() != 0)
        return true;
    return strings.readAllStandardOutput().contains(text.toUtf8());
}

// The keyring daemon stopped dead: it takes calls and never answers them.
class StalledKeyring {
public:
    StalledKeyring()
        : m_pid(QDBusConnection::sessionBus()
                    .interface()
                    ->servicePid("org.freedesktop.secrets")
                    .value()) {
        if (m_pid > 0)
            ::kill(pid_t(m_pid), SIGSTOP);
    }
    ~StalledKeyring() { resume(); }
    bool stopped() const { return m_pid > 0; }
    void resume() {
        if (m_pid > 0)
            ::kill(pid_t(m_pid), SIGCONT);
        m_pid = 0;
    }

private:
    uint m_pid;
};

// A Secret Service secret, (oayays) on the bus.
struct Secret {
    QDBusObjectPath session;
    QByteArray value;
};
QDBusArgument &operator<<(QDBusArgument &out, const Secret &secret) {
    out.beginStructure();
    out << secret.session << QByteArray() << secret.value << QStringLiteral("text/plain");
    out.endStructure();
    return out;
}
const QDBusArgument &operator>>(const QDBusArgument &in, Secret &) {
    return in;
}

} // namespace
Q_DECLARE_METATYPE(Secret)
namespace {

// The user locks the keyring, or opens it again with its password as the
// desktop's prompt would. False when the keyring says no.
bool lockKeyring(bool locked) {
    const auto call = [](const QString &interface, const QString &method,
                         const QVariantList &arguments) {
        QDBusMessage message = QDBusMessage::createMethodCall(
            "org.freedesktop.secrets", "/org/freedesktop/secrets", interface, method);
        message.setArguments(arguments);
        return QDBusConnection::sessionBus().call(message);
    };
    const QString service = QStringLiteral("org.freedesktop.Secret.Service");
    const QDBusObjectPath login(QStringLiteral("/org/freedesktop/secrets/collection/login"));
    if (locked)
        return call(service, "Lock", {QVariant::fromValue(QList<QDBusObjectPath>{login})}).type() ==
               QDBusMessage::ReplyMessage;
    qDBusRegisterMetaType<Secret>();
    const QDBusMessage session =
        call(service, "OpenSession", {"plain", QVariant::fromValue(QDBusVariant(QString()))});
    const Secret password{session.arguments().value(1).value<QDBusObjectPath>(),
                          qgetenv("QUILLORA_TEST_KEYRING_PASSWORD")};
    return call("org.gnome.keyring.InternalUnsupportedGuiltRiddenInterface",
                "UnlockWithMasterPassword",
                {QVariant::fromValue(login), QVariant::fromValue(password)})
               .type() == QDBusMessage::ReplyMessage;
}

LoginDialog *shownLogin() {
    LoginDialog *login = nullptr;
    return QTest::qWaitFor([&] { return (login = visibleTopLevel<LoginDialog>()); }, kTimeout)
               ? login
               : nullptr;
}

bool noticeShown(LoginDialog *login) {
    return !child<QLabel>(login, "lblKeychainNotice")->isHidden();
}

QString shownPassword(LoginDialog *login) {
    return child<QLineEdit>(login, "lePassword")->text();
}

// Ctrl held at OK, the cleaning accepted, then a refused password.
void cleanAndBeRefused(LoginDialog *login) {
    ScriptedDialogs dialogs;
    dialogs.expectBox("Login", "pulizia", QMessageBox::Ok);
    child<QLineEdit>(login, "lePassword")->setText("sbagliata");
    QTest::mouseClick(child<QPushButton>(login, "btmOk"), Qt::LeftButton, Qt::ControlModifier);
    QTRY_VERIFY_WITH_TIMEOUT(child<QPushButton>(login, "btmOk")->isEnabled(), kTimeout);
    QVERIFY(dialogs.allAnswered());
}

} // namespace

class TestKeychain : public QObject {
    Q_OBJECT
    const QString kProxySecret = QStringLiteral("Proxy-Segreta-9");

    // The window starts as at a start of the program, on an account made
    // beforehand and a mirror that holds what the test put there.
    bool startWindow(SignedInSession &s) {
        qApp->setQuitOnLastWindowClosed(false);
        s.window = std::make_unique<CoreMain>();
        return shownLogin() != nullptr;
    }
    bool makeAccount(SignedInSession &s) {
        s.account = s.fixture.createAccount(QStringLiteral("mario"), QStringLiteral("Segreta1!"));
        return s.fixture.isRunning() && !s.account.profileId.isEmpty();
    }
    QMap<QString, QString> remembered(const QString &password) {
        return {{"saveLogin", "1"}, {"username", "mario"}, {"password", password}};
    }

private slots:
    void init() {
        if (QByteArray(QTest::currentTestFunction()) == "noSecretService" ? privateKeyring()
                                                                          : !privateKeyring())
            QSKIP("runs in the other of the two test entries (with and without a keyring)");
        Keychain::instance().retry();
    }

    // Saving, prefilling, forgetting at a sign-in without "Salva", the proxy's
    // password, and the cleaning, as the user meets them.
    void passwordsLiveInTheKeyring() {
        SignedInSession s;
        QVERIFY(s.start());
        QCOMPARE(keyringEntry("password"), QString());
        QVERIFY(s.signOut());
        QVERIFY(s.signIn(true));
        QCOMPARE(keyringEntry("password"), s.account.password);
        QCOMPARE(passwordsInTable(s.home), QString());
        QVERIFY(!fileHolds(s.home, s.account.password));

        QVERIFY(s.signOut());
        LoginDialog *login = shownLogin();
        QTRY_COMPARE_WITH_TIMEOUT(shownPassword(login), s.account.password, kTimeout);
        QVERIFY(!noticeShown(login));
        QVERIFY(s.signIn(false));
        QCOMPARE(keyringEntry("password"), QString());

        Setting().setValue("proxyPassword", kProxySecret);
        QCOMPARE(keyringEntry("proxyPassword"), kProxySecret);
        QCOMPARE(Setting().value("proxyPassword"), kProxySecret);
        QCOMPARE(passwordsInTable(s.home), QString());

        QVERIFY(s.signOut());
        QVERIFY(s.signIn(true));
        QCOMPARE(keyringEntry("password"), s.account.password);
        QVERIFY(s.signOut());
        // Nothing after the cleaning writes the password again.
        cleanAndBeRefused(shownLogin());
        QCOMPARE(keyringEntry("password"), QString());
        QCOMPARE(Setting().value("password"), QString());
        // The proxy settings survive the cleaning, its password with them.
        QCOMPARE(keyringEntry("proxyPassword"), kProxySecret);
        Setting().removeValue("proxyPassword");
        QCOMPARE(keyringEntry("proxyPassword"), QString());
    }

    // A mirror from before the keychain: the passwords move, nothing is left
    // of them in the file once a reader that was in the way has gone, and
    // the remembered one still signs in.
    void clearTextMovesIntoTheKeyring() {
        SignedInSession s;
        QVERIFY(makeAccount(s));
        QMap<QString, QString> before = remembered(s.account.password);
        before.insert("proxyPassword", kProxySecret);
        storeInClearText(before);
        // Open all along, as the search's connection is: the last connection
        // to close would empty the log anyway.
        QSqlDatabase reader = QSqlDatabase::addDatabase("QSQLITE", "reader");
        reader.setDatabaseName(s.home.databaseFile());
        QVERIFY(reader.open() && reader.transaction());
        QSqlQuery reading(reader);
        QVERIFY(reading.exec("SELECT count(*) FROM settings") && reading.next());
        QVERIFY(startWindow(s));
        QTRY_COMPARE_WITH_TIMEOUT(passwordsInTable(s.home), QString(), kTimeout);
        QVERIFY(fileHolds(s.home, kProxySecret));
        reading.finish();
        QVERIFY(reader.commit());
        QTRY_VERIFY_WITH_TIMEOUT(!fileHolds(s.home, s.account.password), kTimeout);
        QVERIFY(!fileHolds(s.home, kProxySecret));
        reader.close();
        QCOMPARE(keyringEntry("password"), s.account.password);
        QCOMPARE(keyringEntry("proxyPassword"), kProxySecret);

        LoginDialog *login = shownLogin();
        QTRY_COMPARE_WITH_TIMEOUT(shownPassword(login), s.account.password, kTimeout);
        QTest::mouseClick(child<QPushButton>(login, "btmOk"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s.window->isVisible() && s.synchronised(), kTimeout);
        QCOMPARE(s.service().requests("login").size(), 1);
        Setting().removeValue("proxyPassword");
    }

    // A keyring that never answers: the dialog at once, the notice within the
    // bound, the password kept in the table and used. Forgotten while the
    // keyring still sits on the move of it, it is not there once it answers.
    void stalledKeyringFallsBack() {
        SignedInSession s;
        StalledKeyring stalled;
        QVERIFY(stalled.stopped());
        QElapsedTimer clock;
        clock.start();
        QVERIFY(makeAccount(s));
        storeInClearText(remembered(s.account.password));
        QVERIFY(startWindow(s));
        LoginDialog *login = shownLogin();
        QCOMPARE(shownPassword(login), s.account.password);
        QVERIFY2(clock.elapsed() < Keychain::TimeoutMs,
                 qPrintable(QString::number(clock.elapsed())));
        QTRY_VERIFY_WITH_TIMEOUT(noticeShown(login), kTimeout);
        QVERIFY2(clock.elapsed() < Keychain::TimeoutMs + 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(passwordsInTable(s.home), QStringLiteral("password"));

        QTest::mouseClick(child<QPushButton>(login, "btmOk"), Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(s.window->isVisible() && s.synchronised(), kTimeout);
        QCOMPARE(Setting().value("password"), s.account.password);

        // The next showing does not wait on it again, and still offers the password.
        QVERIFY(s.signOut());
        QVERIFY(!Keychain::instance().retry());
        QCOMPARE(shownPassword(shownLogin()), s.account.password);
        QVERIFY(s.signIn(false));
        QCOMPARE(passwordsInTable(s.home), QString());
        stalled.resume();
        QTRY_VERIFY_WITH_TIMEOUT(Keychain::instance().retry(), kTimeout);
        QCOMPARE(keyringEntry("password"), QString());
    }

    // A keyring that refuses to open: the password stays in the table, and
    // the dialog says so; once it is open, the next showing moves it there.
    void lockedKeyringKeepsTheTable() {
        SignedInSession s;
        QVERIFY(s.start() && s.signOut());
        QVERIFY(lockKeyring(true));
        QVERIFY(s.signIn(true));
        QCOMPARE(passwordsInTable(s.home), QStringLiteral("password"));
        QVERIFY(s.signOut());
        LoginDialog *login = shownLogin();
        QTRY_VERIFY_WITH_TIMEOUT(noticeShown(login), kTimeout);
        QCOMPARE(shownPassword(login), s.account.password);
        QVERIFY(lockKeyring(false));
        QVERIFY(s.signIn(true) && s.signOut());
        QTRY_COMPARE_WITH_TIMEOUT(passwordsInTable(s.home), QString(), kTimeout);
        QCOMPARE(keyringEntry("password"), s.account.password);
    }

    // A run that ended before the keyring answered a removal: the next start
    // neither offers that password nor leaves it there.
    void forgottenInAnEarlierRun() {
        SignedInSession s;
        QVERIFY(makeAccount(s));
        Setting().setValue("password", s.account.password);
        QCOMPARE(keyringEntry("password"), s.account.password);
        storeInClearText({{"saveLogin", "1"}, {"username", "mario"}, {"passwordToForget", "1"}});
        QVERIFY(startWindow(s));
        QTRY_COMPARE_WITH_TIMEOUT(keyringEntry("password"), QString(), kTimeout);
        QCOMPARE(shownPassword(shownLogin()), QString());
    }

    // No Secret Service on the bus: everything as before, said once.
    void noSecretService() {
        SignedInSession s;
        QElapsedTimer clock;
        clock.start();
        QVERIFY(makeAccount(s) && startWindow(s));
        LoginDialog *login = shownLogin();
        QTRY_VERIFY_WITH_TIMEOUT(noticeShown(login), kTimeout);
        QVERIFY2(clock.elapsed() < Keychain::TimeoutMs + 2000,
                 qPrintable(QString::number(clock.elapsed())));
        QVERIFY(s.signIn(true));
        QCOMPARE(passwordsInTable(s.home), QStringLiteral("password"));
        Setting().setValue("proxyPassword", kProxySecret);
        QCOMPARE(Setting().value("proxyPassword"), kProxySecret);

        QVERIFY(s.signOut());
        login = shownLogin();
        QCOMPARE(shownPassword(login), s.account.password);
        QVERIFY(!noticeShown(login));
        QVERIFY(s.signIn(false));
        QCOMPARE(passwordsInTable(s.home), QStringLiteral("proxyPassword"));
    }
};

QUILLORA_TEST_MAIN(TestKeychain)
#include "tst_keychain.moc"
