#include "QueryRows.h"
#include "ServiceFixture.h"
#include "ServiceXml.h"
#include "SquidProxy.h"
#include "TestHome.h"
#include "UploadMultipart.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "storage/Database.h"
#include "storage/Setting.h"
#include "update/DialogUpdate.h"

#include <QAuthenticator>
#include <QDomDocument>
#include <QHttpMultiPart>
#include <QLabel>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QPointer>
#include <QProcess>
#include <QRandomGenerator>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QtTest>

#include <algorithm>

#include <memory>

namespace {

const int kTimeout = 60000;

// One signal of a connection: its name and its text arguments.
struct Event {
    QString name;
    QString first;
    QString second;
};

// Records every signal of a connection in the order it came. Progress goes
// to lists of its own; a finished download is read at once, as receivers do.
class Recorder : public QObject {
public:
    explicit Recorder(QVWConn &conn) {
        connect(&conn, &QVWConn::loginSuccessful, this, [this](const QDomElement &body) {
            add(QStringLiteral("loginSuccessful"), body.tagName());
        });
        connect(&conn, &QVWConn::loginFailure, this,
                [this] { add(QStringLiteral("loginFailure")); });
        connect(&conn, &QVWConn::commandSuccessful, this,
                [this](const QDomElement &body, const QString &status) {
                    add(QStringLiteral("commandSuccessful"),
                        body.isNull() ? QStringLiteral("null") : body.tagName(), status);
                    lastBody = body;
                });
        connect(&conn, &QVWConn::commandFailure, this,
                [this](const QString &message, const QString &status) {
                    add(QStringLiteral("commandFailure"), message, status);
                });
        connect(&conn, &QVWConn::syncCategorieOK, this,
                [this] { add(QStringLiteral("syncCategorieOK")); });
        connect(&conn, &QVWConn::retry, this, [this] { add(QStringLiteral("retry")); });
        connect(&conn, &QVWConn::downloadFinish, this, [this](QNetworkReply *reply) {
            add(QStringLiteral("downloadFinish"), QString::number(reply->error()));
            downloaded = reply->readAll();
        });
        connect(&conn, &QVWConn::avanzamentoUpload, this, [this](qint64 sent, qint64 total) {
            uploads.append({sent, total});
        });
        connect(&conn, &QVWConn::avanzamentoDownload, this, [this](qint64 received, qint64 total) {
            downloads.append({received, total});
        });
    }

    QStringList names() const {
        QStringList out;
        for (const Event &e : events)
            out << e.name;
        return out;
    }
    int count(const QString &name) const { return names().count(name); }
    const Event &last() const { return events.last(); }

    QList<Event> events;
    QList<QPair<qint64, qint64>> uploads, downloads;
    QByteArray downloaded;
    QDomElement lastBody;

private:
    void add(const QString &name, const QString &first = QString(),
             const QString &second = QString()) {
        events.append({name, first, second});
    }
};

// What every test needs, made afresh before each one: a home of its own, the
// local service and the shared cookie jar (which must outlive the
// connections).
struct Setup {
    TestHome home;
    ServiceFixture fixture;
    std::unique_ptr<QNetworkCookieJar> jar = std::make_unique<QNetworkCookieJar>();

    LocalService &service() { return fixture.service(); }
    // The account most tests sign in with, holding `documents` documents.
    TestAccount anna(int documents) {
        return fixture.createAccount(QStringLiteral("anna"), QStringLiteral("segreta"), documents);
    }
    QList<LocalService::RecordedRequest> requests(const QString &action) {
        return service().requests(action);
    }
};

QByteArray failureReply(const QString &status, const QString &description) {
    return serviceReply(
        status, QStringLiteral("<statusdescription>%1</statusdescription>").arg(description));
}

void sendXml(QVWConn &conn, const QByteArray &body) {
    conn.request().setHeader(QNetworkRequest::ContentTypeHeader,
                             QStringLiteral("text/xml;charset=UTF-8"));
    conn.sendRequest(&body);
}

bool run(const QStringList &statements) {
    bool ok = true;
    Database database;
    database.open();
    {
        QSqlQuery q(database.db);
        for (const QString &sql : statements)
            ok = q.exec(sql) && ok;
    }
    database.close();
    return ok;
}

// The mirror as a whole, to tell whether anything changed.
QStringList mirror() {
    QStringList out;
    for (const char *table :
         {"buckets", "policies", "folders", "metadati", "files", "metadati_values"})
        out << mirrorRows(
            QStringLiteral("SELECT * FROM %1 ORDER BY 1, 2").arg(QLatin1String(table)));
    return out;
}

bool signIn(QVWConn &conn, const TestAccount &account) {
    QSignalSpy accepted(&conn, &QVWConn::loginSuccessful);
    conn.login(account.user, account.password, true);
    return QTest::qWaitFor([&] { return accepted.count() == 1; }, kTimeout);
}

// Waits until the service has received `n` requests of `action`.
bool received(Setup &s, const QString &action, int n) {
    return QTest::qWaitFor([&] { return s.requests(action).size() >= n; }, kTimeout);
}

// Waits until the service has answered `n` requests of `action`.
bool handled(Setup &s, const QString &action, int n) {
    return QTest::qWaitFor(
        [&] {
            const auto list = s.requests(action);
            int done = 0;
            for (const auto &r : list)
                done += r.httpStatus != 0 ? 1 : 0;
            return done >= n;
        },
        kTimeout);
}

QString loginBody(const QString &user, const QString &password, bool force,
                  const QString &codesync = QStringLiteral("0.0")) {
    return QStringLiteral(
               "<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action>"
               "<username>%1</username><password>%2</password>%3<codesync>%4</codesync>"
               "<version>1.2.1</version><platform>%5</platform></request>")
        .arg(user, password, force ? QStringLiteral("<forceLogin>1</forceLogin>") : QString(),
             codesync, ClientInfo::platform());
}

// The client's proxy settings; with a password, as user "utente", whom the
// test proxy knows by the password "chiave".
void useProxy(const QString &host, quint16 port, const QString &password = QString()) {
    Setting setting;
    setting.setValue(QStringLiteral("proxyUrl"), host);
    setting.setValue(QStringLiteral("proxyPort"), QString::number(port));
    if (!password.isEmpty()) {
        setting.setValue(QStringLiteral("proxyUsername"), QStringLiteral("utente"));
        setting.setValue(QStringLiteral("proxyPassword"), password);
    }
}

// The signals of a synchronisation the service answers with `reply`, on a
// connection of its own, once the first two have come.
QStringList syncSignals(Setup &s, const QByteArray &reply) {
    s.service().scriptReply(200, reply, QStringLiteral("syncfolder"));
    QVWConn conn(s.jar.get(), false);
    Recorder rec(conn);
    conn.syncFolder();
    // On a timeout the names so far tell what went wrong.
    static_cast<void>(QTest::qWaitFor([&] { return rec.events.size() >= 2; }, kTimeout));
    return rec.names();
}

// Hands `body` to the connection as the body of a synchronisation reply;
// false when it is not XML.
bool mirrorBody(QVWConn &conn, const QString &body) {
    QDomDocument doc;
    if (!doc.setContent(body))
        return false;
    conn.onSyncFolder(doc.documentElement());
    return true;
}

DialogUpdate *visibleUpdateDialog() {
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *d = qobject_cast<DialogUpdate *>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

// A synchronisation body exercising the merge rules: profile, policy, two
// classes whose fields carry their own class number, a document that
// replaces one already held, and a field value given twice.
const char kSyncBody[] =
    "<bucket id=\"P1\" description=\"Profilo\" quota=\"100\" used=\"5\" unit=\"MB\" "
    "div=\"1000000\"/>"
    "<policie policie=\"POL1\" idbucket=\"P1\" description=\"Dieci anni\"/>"
    "<folders>"
    "<folder id=\"1\" name=\"Fatture\" groups=\"Amministrazione\" custom=\"0\" idbuckets=\"P1\" "
    "idpolicies=\"POL1\">"
    "<metadato idmetadato=\"11\" idfolder=\"1\" name=\"Numero\" type=\"2\" visible=\"1\" "
    "required=\"1\" custom=\"0\"/>"
    "</folder>"
    "<folder id=\"2\" name=\"Contratti\" groups=\"Legale\" custom=\"1\" idbuckets=\"P1\" "
    "idpolicies=\"POL1\">"
    "<metadato idmetadato=\"21\" idfolder=\"7\" name=\"Firmatario\" type=\"1\" visible=\"0\" "
    "required=\"0\" custom=\"1\"/>"
    "<metadato idmetadato=\"22\" idfolder=\"2\" name=\"Data\" type=\"3\"/>"
    "</folder>"
    "</folders>"
    "<metadato idmetadato=\"99\" idfolder=\"1\" name=\"Fuori\"/>"
    "<files>"
    "<file hash=\"aaaa\" hash4k=\"a4\" last_modified=\"01/02/2024 10:00:00\" "
    "filename=\"C:/doc/a.pdf\" token=\"TOK-NEW\" idfolder=\"1\" username=\"anna\" "
    "tsupdate=\"12.5\" "
    "idbuckets=\"P1\" tsconserve=\"02/02/2024 10:00:00\" computer_name=\"PC1\"/>"
    "</files>"
    "<metadatoValue key=\"11\" value=\"primo\" hash=\"aaaa\"/>"
    "<metadatoValue key=\"11\" value=\"ultimo\" hash=\"aaaa\"/>";

// What the mirror held before that body arrives.
const QStringList kPlanted = {
    QStringLiteral("INSERT INTO buckets VALUES ('OLD', 'Vecchio', 1, 1, 'MB', 1)"),
    QStringLiteral("INSERT INTO policies VALUES ('OLDPOL', 'OLD', 'Vecchia')"),
    QStringLiteral("INSERT INTO folders VALUES (9, 'Vecchia', '', 0, 'OLD', 'OLDPOL')"),
    QStringLiteral("INSERT INTO metadati VALUES (90, 9, 'Vecchio', 1, 1, 0, 0)"),
    QStringLiteral("INSERT INTO files VALUES ('aaaa', 'a4', '', 'C:/doc/a.pdf', 'TOK-OLD', 1, "
                   "'anna', 3, 'P1', '', 'PC1')"),
    QStringLiteral("INSERT INTO files VALUES ('bbbb', 'b4', '', 'C:/doc/b.pdf', 'TOK-B', 2, "
                   "'anna', 4, 'P1', '', 'PC1')"),
    QStringLiteral("INSERT INTO metadati_values (idmetadata, value, hash) VALUES (21, 'Rossi', "
                   "'bbbb')"),
};

QString makeSelfSignedCertificate(const QString &dir) {
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("rsa:2048"), QStringLiteral("-nodes"), QStringLiteral("-keyout"),
                   dir + QStringLiteral("/key.pem"), QStringLiteral("-out"),
                   dir + QStringLiteral("/cert.pem"), QStringLiteral("-days"), QStringLiteral("2"),
                   QStringLiteral("-subj"), QStringLiteral("/CN=127.0.0.1"),
                   QStringLiteral("-addext"), QStringLiteral("subjectAltName=IP:127.0.0.1")});
    if (!openssl.waitForFinished(60000) || openssl.exitCode() != 0)
        return QString();
    return dir;
}

} // namespace

class TestConnection : public QObject {
    Q_OBJECT

    std::unique_ptr<Setup> setup;

private slots:
    // The test certificates are made once per process; made here, before any
    // test home moves the temporary directory, they outlive every home.
    void initTestCase() { QVERIFY(QFile::exists(ServiceFixture::caCertificatePath())); }

    void init() {
        setup = std::make_unique<Setup>();
        QVERIFY2(setup->fixture.isRunning(), qPrintable(setup->fixture.errorString()));
    }
    void cleanup() { setup.reset(); }

    // --- replies and the status table --------------------------------------

    void status_loginAcceptedFillsMirrorBeforeRetry() {
        Setup &s = *setup;
        const TestAccount account = s.anna(3);
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        QStringList filesAtRetry;
        connect(&conn, &QVWConn::retry, &rec,
                [&] { filesAtRetry = mirrorRows(QStringLiteral("SELECT count(*) FROM files")); });

        conn.login(account.user, account.password, true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
        QCOMPARE(rec.names(),
                 QStringList({QStringLiteral("syncCategorieOK"), QStringLiteral("loginSuccessful"),
                              QStringLiteral("retry")}));
        QCOMPARE(rec.events.at(1).first, QStringLiteral("body"));
        QCOMPARE(filesAtRetry, QStringList{QStringLiteral("3")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM buckets")),
                 QStringList{QStringLiteral("2")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM folders")),
                 QStringList{QStringLiteral("2")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM metadati")),
                 QStringList{QStringLiteral("6")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM metadati_values")),
                 QStringList{QStringLiteral("9")});

        const auto logins = s.requests(QStringLiteral("login"));
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().httpStatus, 200);
        QCOMPARE(logins.first().statusNumber, STATUS_LOGIN_OK);
    }

    void status_loginRefused() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(account.user, QStringLiteral("sbagliata"), true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.names(), QStringList{QStringLiteral("loginFailure")});
        const auto logins = s.requests(QStringLiteral("login"));
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().httpStatus, 500);
        QCOMPARE(logins.first().statusNumber, STATUS_LOGIN_KO);
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("0")});
    }

    void status_syncFolderRefreshesMirrorBeforeSuccess() {
        Setup &s = *setup;
        const TestAccount account = s.anna(2);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        const PreservedVersion added = s.fixture.store().preserve(
            account.user, account.classIds.first(), QStringLiteral("/home/anna/nuovo.pdf"),
            QByteArray("nuovo documento"), {});
        QVERIFY2(added.isValid(), qPrintable(s.fixture.store().lastError()));

        Recorder rec(conn);
        QStringList filesAtSuccess;
        connect(&conn, &QVWConn::commandSuccessful, &rec, [&] {
            filesAtSuccess =
                mirrorRows(QStringLiteral("SELECT fullpath FROM files ORDER BY tsupdate DESC"));
        });
        const QString codesync = conn.codeSync(account.user);
        QVERIFY(codesync != QStringLiteral("0.0"));
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandSuccessful")), 1, kTimeout);
        QCOMPARE(rec.names(), QStringList({QStringLiteral("syncCategorieOK"),
                                           QStringLiteral("commandSuccessful")}));
        QCOMPARE(rec.last().second, STATUS_SYNC_FOLDER_OK);
        QCOMPARE(filesAtSuccess.size(), 3);
        QCOMPARE(filesAtSuccess.first(), QStringLiteral("/home/anna/nuovo.pdf"));

        const auto syncs = s.requests(QStringLiteral("syncfolder"));
        QCOMPARE(syncs.size(), 1);
        QCOMPARE(syncs.first().body,
                 envelope(QStringLiteral("syncfolder"),
                          QStringLiteral("<codesync>%1</codesync>").arg(codesync)));
        QCOMPARE(syncs.first().header("Content-Type"), QByteArray("text/xml;charset=UTF-8"));
    }

    void status_otherSuccessPassesBodyAndStatus() {
        Setup &s = *setup;
        s.service().scriptReply(
            200,
            serviceReply(STATUS_EXHIBITOR_OK,
                         QStringLiteral("<exhibitor><unique_code value=\"XYZ\"/></exhibitor>")),
            QStringLiteral("getexhibitorconfig"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("getexhibitorconfig"),
                               QStringLiteral("<token>T1</token>")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandSuccessful"));
        QCOMPARE(rec.last().first, QStringLiteral("body"));
        QCOMPARE(rec.last().second, STATUS_EXHIBITOR_OK);
        QCOMPARE(rec.lastBody.firstChildElement(QStringLiteral("exhibitor"))
                     .firstChildElement(QStringLiteral("unique_code"))
                     .attribute(QStringLiteral("value")),
                 QStringLiteral("XYZ"));
        QCOMPARE(s.requests(QStringLiteral("getexhibitorconfig"))
                     .first()
                     .element(QStringLiteral("token")),
                 QStringLiteral("T1"));
    }

    void status_refusalCarriesDescription() {
        Setup &s = *setup;
        s.service().scriptReply(
            500, failureReply(STATUS_CHANGE_PWD_KO, QStringLiteral("Password non valida")));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("changePWD")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().first, QStringLiteral("Password non valida"));
        QCOMPARE(rec.last().second, STATUS_CHANGE_PWD_KO);
    }

    void status_validationPassesIndentedElement() {
        Setup &s = *setup;
        s.service().scriptReply(
            500,
            serviceReply(STATUS_VALIDATION_KO,
                         QStringLiteral("<statusdescription>Valori errati</statusdescription>"
                                        "<validation><field key=\"11\" message=\"Obbligatorio\"/>"
                                        "<field key=\"12\" message=\"Non &amp; una data\"/>"
                                        "</validation>")));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("savevaluemetadati")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().second, STATUS_VALIDATION_KO);
        // The whole element, indented by 4 (attribute order is the DOM's own).
        const QStringList lines = rec.last().first.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 5);
        QCOMPARE(lines.at(0), QStringLiteral("    <validation>"));
        for (int i : {1, 2}) {
            QVERIFY(lines.at(i).startsWith(QStringLiteral("        <field ")));
            QVERIFY(lines.at(i).endsWith(QStringLiteral("/>")));
        }
        QCOMPARE(lines.at(3), QStringLiteral("    </validation>"));
        QCOMPARE(lines.at(4), QString());
        QDomDocument parsed;
        QVERIFY(parsed.setContent(rec.last().first));
        const QDomElement second = parsed.documentElement().lastChildElement();
        QCOMPARE(second.attribute(QStringLiteral("key")), QStringLiteral("12"));
        QCOMPARE(second.attribute(QStringLiteral("message")), QStringLiteral("Non & una data"));
    }

    void status_updateRequiredShowsDialogOnly() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        s.service().forceUpdateRequiredOnNextLogin(QStringLiteral("Serve la versione 2"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(account.user, account.password, true);
        QTRY_VERIFY_WITH_TIMEOUT(visibleUpdateDialog() != nullptr, kTimeout);
        DialogUpdate *dialog = visibleUpdateDialog();
        QVERIFY(dialog->isModal());
        QCOMPARE(dialog->findChild<QLabel *>(QStringLiteral("lblMessaggio"))->text(),
                 QStringLiteral("Serve la versione 2"));
        QVERIFY(handled(s, QStringLiteral("login"), 1));
        QCoreApplication::processEvents();
        QCOMPARE(rec.names(), QStringList());
        QCOMPARE(s.requests(QStringLiteral("login")).first().statusNumber, STATUS_UPDATE_REQUIRED);
    }

    void status_replyThatIsNotXml_data() {
        QTest::addColumn<int>("http");
        QTest::addColumn<QString>("signal");
        QTest::newRow("200") << 200 << QStringLiteral("commandSuccessful");
        QTest::newRow("500") << 500 << QStringLiteral("commandFailure");
    }
    void status_replyThatIsNotXml() {
        QFETCH(int, http);
        QFETCH(QString, signal);
        Setup &s = *setup;
        s.service().scriptReply(http, QByteArray("Servizio in manutenzione <<"), QString(),
                                QByteArray("text/plain"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("history")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, signal);
        QCOMPARE(rec.last().first, http == 200 ? QStringLiteral("null") : QString());
        QCOMPARE(rec.last().second, QString());
    }

    // An HTTP refusal and a service that is not there both end the command
    // as a network error, with the reason for the user.
    void status_networkErrorEndsCommand_data() {
        QTest::addColumn<bool>("serviceStopped");
        QTest::newRow("http 403") << false;
        QTest::newRow("no service") << true;
    }
    void status_networkErrorEndsCommand() {
        QFETCH(bool, serviceStopped);
        Setup &s = *setup;
        if (serviceStopped)
            s.service().stop();
        else
            s.service().scriptReply(403, QByteArray("<html>Forbidden</html>"), QString(),
                                    QByteArray("text/html"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("history")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);
        QVERIFY(!rec.last().first.isEmpty());
    }

    void status_replyCutShortIsNetworkError() {
        Setup &s = *setup;
        const TestAccount account = s.anna(3);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        QVERIFY(run({QStringLiteral("DELETE FROM files")}));
        const QStringList before = mirror();
        Recorder rec(conn);
        s.service().injectFault(LocalService::Fault::CloseMidReply, QStringLiteral("syncfolder"));
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);
        QCOMPARE(mirror(), before);
    }

    void status_untrustedCertificateIsNetworkError() {
        Setup &s = *setup;
        QTemporaryDir certDir;
        QVERIFY(!makeSelfSignedCertificate(certDir.path()).isEmpty());
        QTemporaryDir dataDir;
        LocalService untrusted;
        LocalService::Options options;
        options.dataDir = dataDir.path();
        options.tlsCertificateFile = certDir.filePath(QStringLiteral("cert.pem"));
        options.tlsKeyFile = certDir.filePath(QStringLiteral("key.pem"));
        QString error;
        QVERIFY2(untrusted.start(options, &error), qPrintable(error));
        Setting().setValue(QStringLiteral("url"), untrusted.baseUrl().toString());

        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(QStringLiteral("anna"), QStringLiteral("segreta"), true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);
        QVERIFY(untrusted.requests().isEmpty());
    }

    // --- session expiry and automatic login --------------------------------

    void session_expiryMidCommandLogsInAndResends() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        const QString codesync = conn.codeSync(account.user);
        s.service().expireSessionsNow();

        Recorder rec(conn);
        const QByteArray history = envelope(QStringLiteral("history"),
                                            QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                                                .arg(account.documents.first().hash)
                                                .arg(account.documents.first().classId));
        connect(&conn, &QVWConn::retry, &rec, [&] { sendXml(conn, history); });
        sendXml(conn, history);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandSuccessful")), 1, kTimeout);
        QCOMPARE(rec.names(),
                 QStringList({QStringLiteral("syncCategorieOK"), QStringLiteral("loginSuccessful"),
                              QStringLiteral("retry"), QStringLiteral("commandSuccessful")}));
        QCOMPARE(rec.last().second, STATUS_HISTORY_OK);

        const auto all = s.service().requests();
        QStringList seen;
        for (const auto &r : all)
            seen << r.action + QLatin1Char(':') + r.statusNumber;
        QCOMPARE(seen, QStringList({QStringLiteral("login:1"), QStringLiteral("history:19"),
                                    QStringLiteral("login:1"), QStringLiteral("history:29")}));
        // The automatic login: the stored credentials, without forceLogin.
        QCOMPARE(all.at(2).body,
                 loginBody(account.user, account.password, false, codesync).toUtf8());
    }

    void session_expiryAfterNetworkFailureEndsCommand() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        Recorder rec(conn);
        s.service().scriptReply(403, QByteArray("vietato"), QStringLiteral("syncfolder"),
                                QByteArray("text/plain"));
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);

        s.service().expireSessionsNow();
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 2, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().second, STATUS_SESSION_EXPIRED);
        QVERIFY(!rec.last().first.isEmpty());
        QCOMPARE(s.requests(QStringLiteral("login")).size(), 1);
    }

    void session_alternatingExpiryIsBounded() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        s.service().expireEveryNthRequest(1);
        Recorder rec(conn);
        connect(&conn, &QVWConn::retry, &rec, [&] { conn.syncFolder(); });
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandFailure")), 1, kTimeout);
        QCOMPARE(rec.last().second, STATUS_SESSION_EXPIRED);
        QCOMPARE(rec.count(QStringLiteral("retry")), 3);
        QCOMPARE(s.requests(QStringLiteral("login")).size(), 1 + 3);
        QCOMPARE(s.requests(QStringLiteral("syncfolder")).size(), 4);

        // The bound is per command: the next one may log in again.
        s.service().expireEveryNthRequest(0);
        s.service().expireSessionsNow();
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandSuccessful")), 1, kTimeout);
        QCOMPARE(s.requests(QStringLiteral("login")).size(), 5);
    }

    void session_connectionWithoutCredentialsOnlyReportsLoginFailure() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn loginConn(s.jar.get(), false);
        QVERIFY(signIn(loginConn, account));
        QVWConn window(s.jar.get(), false);
        Recorder rec(window);

        // The shared cookie carries the session to the second connection.
        window.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandSuccessful")), 1, kTimeout);
        QVERIFY(!s.requests(QStringLiteral("syncfolder")).first().sessionCookie.isEmpty());

        s.service().expireSessionsNow();
        window.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 3, kTimeout);
        QVERIFY(handled(s, QStringLiteral("syncfolder"), 2));
        QCoreApplication::processEvents();
        QCOMPARE(rec.names(), QStringList({QStringLiteral("syncCategorieOK"),
                                           QStringLiteral("commandSuccessful"),
                                           QStringLiteral("loginFailure")}));
        QCOMPARE(s.requests(QStringLiteral("login")).size(), 1);
    }

    void session_logoutSilencesConnection() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        Recorder rec(conn);
        s.service().delayReply(500, QStringLiteral("syncfolder"));
        conn.syncFolder();
        QVERIFY(received(s, QStringLiteral("syncfolder"), 1));
        conn.logout();
        conn.login(account.user, account.password, false);
        QVERIFY(handled(s, QStringLiteral("login"), 2));
        QCoreApplication::processEvents();
        QCOMPARE(rec.names(), QStringList());
    }

    // --- login --------------------------------------------------------------

    void login_bodyIsExact_data() {
        QTest::addColumn<bool>("force");
        QTest::newRow("interactive") << true;
        QTest::newRow("automatic") << false;
    }
    void login_bodyIsExact() {
        QFETCH(bool, force);
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(account.user, account.password, force);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
        const auto logins = s.requests(QStringLiteral("login"));
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().method, QByteArray("POST"));
        QCOMPARE(logins.first().path, QStringLiteral("/vazedo/RestService"));
        QCOMPARE(logins.first().header("Content-Type"), QByteArray("text/xml;charset=UTF-8"));
        QCOMPARE(logins.first().body, loginBody(account.user, account.password, force).toUtf8());
    }

    void login_bothEmptyIsRefusedWithoutRequest() {
        Setup &s = *setup;
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(QString(), QString(), true);
        QCOMPARE(rec.names(), QStringList{QStringLiteral("loginFailure")});
        // A user name alone is sent; the service then sees exactly one login.
        conn.login(QStringLiteral("anna"), QString(), true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 2, kTimeout);
        QCOMPARE(rec.names(),
                 QStringList({QStringLiteral("loginFailure"), QStringLiteral("loginFailure")}));
        const auto logins = s.requests(QStringLiteral("login"));
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().body, loginBody(QStringLiteral("anna"), QString(), true).toUtf8());
    }

    void login_secondLoginAbortsFirstSilently() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        s.service().delayReply(1500, QStringLiteral("login"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(account.user, QStringLiteral("sbagliata"), true);
        QVERIFY(QTest::qWaitFor([&] { return !s.requests(QStringLiteral("login")).isEmpty(); },
                                kTimeout));
        conn.login(account.user, account.password, true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
        QVERIFY(received(s, QStringLiteral("login"), 2));
        QCoreApplication::processEvents();
        QCOMPARE(rec.names(),
                 QStringList({QStringLiteral("syncCategorieOK"), QStringLiteral("loginSuccessful"),
                              QStringLiteral("retry")}));
    }

    void login_supersededCommandIsSilent() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        Recorder rec(conn);
        s.service().delayReply(1500, QStringLiteral("syncfolder"));
        conn.syncFolder();
        QVERIFY(QTest::qWaitFor([&] { return !s.requests(QStringLiteral("syncfolder")).isEmpty(); },
                                kTimeout));
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("commandSuccessful")), 1, kTimeout);
        QVERIFY(received(s, QStringLiteral("syncfolder"), 2));
        QCoreApplication::processEvents();
        QCOMPARE(rec.names(), QStringList({QStringLiteral("syncCategorieOK"),
                                           QStringLiteral("commandSuccessful")}));
    }

    void login_specialCharactersArriveIntact() {
        Setup &s = *setup;
        const QString password = QStringLiteral("p<&>\"'%4x");
        const TestAccount account =
            s.fixture.createAccount(QStringLiteral("o'neil&co"), password, 1);
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(account.user, password, true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
        const auto login = s.requests(QStringLiteral("login")).first();
        QCOMPARE(login.element(QStringLiteral("username")), account.user);
        QCOMPARE(login.element(QStringLiteral("password")), password);
        QCOMPARE(login.element(QStringLiteral("codesync")), QStringLiteral("0.0"));
    }

    void login_userNameCannotInjectElements() {
        Setup &s = *setup;
        const QString crafted = QStringLiteral("x</username><forceLogin>1</forceLogin><username>y");
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.login(crafted, QStringLiteral("segreta"), false);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.names(), QStringList{QStringLiteral("loginFailure")});
        const auto login = s.requests(QStringLiteral("login")).first();
        QCOMPARE(login.element(QStringLiteral("username")), crafted);
        QCOMPARE(login.element(QStringLiteral("forceLogin")), QString());
    }

    // --- synchronisation of the mirror ---------------------------------------

    void sync_replacesClassesAndMergesDocuments() {
        Setup &s = *setup;
        QVERIFY(run(kPlanted));
        QCOMPARE(
            syncSignals(s, serviceReply(STATUS_SYNC_FOLDER_OK, QLatin1String(kSyncBody))),
            QStringList({QStringLiteral("syncCategorieOK"), QStringLiteral("commandSuccessful")}));

        QCOMPARE(mirrorRows(QStringLiteral("SELECT * FROM buckets")),
                 QStringList{QStringLiteral("P1|Profilo|100|5|MB|1000000")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT * FROM policies")),
                 QStringList{QStringLiteral("POL1|P1|Dieci anni")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT * FROM folders ORDER BY idfolder")),
                 QStringList({QStringLiteral("1|Fatture|Amministrazione|0|P1|POL1"),
                              QStringLiteral("2|Contratti|Legale|1|P1|POL1")}));
        // Each field keeps the class number of its own element; a field
        // outside any class is not one.
        QCOMPARE(mirrorRows(QStringLiteral("SELECT * FROM metadati ORDER BY idmetadato")),
                 QStringList({QStringLiteral("11|1|Numero|2|1|1|0"),
                              QStringLiteral("21|7|Firmatario|1|0|0|1"),
                              QStringLiteral("22|2|Data|3|0|0|0")}));
        QCOMPARE(
            mirrorRows(
                QStringLiteral("SELECT hash, folderid, token, tsupdate FROM files ORDER BY hash")),
            QStringList({QStringLiteral("aaaa|1|TOK-NEW|12.5"), QStringLiteral("bbbb|2|TOK-B|4")}));
        QCOMPARE(mirrorRows(QStringLiteral("SELECT idmetadata, value, hash FROM metadati_values "
                                           "ORDER BY hash")),
                 QStringList({QStringLiteral("11|ultimo|aaaa"), QStringLiteral("21|Rossi|bbbb")}));
    }

    void sync_missingAttributesAreEmptyText() {
        Setup &s = *setup;
        QVWConn conn(s.jar.get(), false);
        QVERIFY(mirrorBody(
            conn, QStringLiteral(
                      "<body><bucket id=\"B\"/><folder id=\"x\"><metadato name=\"N\"/></folder>"
                      "<file hash=\"h\"/></body>")));
        QCOMPARE(mirrorRows(QStringLiteral("SELECT quote(description), quote(unit) FROM buckets")),
                 QStringList{QStringLiteral("''|''")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT idfolder, quote(name) FROM folders")),
                 QStringList{QStringLiteral("0|''")});
        QCOMPARE(
            mirrorRows(QStringLiteral("SELECT idmetadato, idfolder, nome, tipo FROM metadati")),
            QStringList{QStringLiteral("0|0|N|0")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT quote(token), folderid FROM files")),
                 QStringList{QStringLiteral("''|0")});
    }

    void sync_rowViolatingKeyIsSkipped() {
        Setup &s = *setup;
        QVWConn conn(s.jar.get(), false);
        QSignalSpy done(&conn, &QVWConn::syncCategorieOK);
        QVERIFY(mirrorBody(
            conn,
            QStringLiteral(
                "<body><folder id=\"1\" name=\"Prima\"/><folder id=\"1\" name=\"Doppia\"/>"
                "<folder id=\"2\" name=\"Seconda\"/><file hash=\"h\" idfolder=\"2\"/></body>")));
        QCOMPARE(done.count(), 1);
        QCOMPARE(mirrorRows(QStringLiteral("SELECT idfolder, name FROM folders ORDER BY idfolder")),
                 QStringList({QStringLiteral("1|Prima"), QStringLiteral("2|Seconda")}));
        QCOMPARE(mirrorRows(QStringLiteral("SELECT hash FROM files")),
                 QStringList{QStringLiteral("h")});
    }

    void sync_emptyBodyEmptiesProfilesAndClassesOnly_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::newRow("empty body") << serviceReply(STATUS_SYNC_FOLDER_OK, QString());
        QTest::newRow("no body") << QByteArray(
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><statusnumber>5"
            "</statusnumber></response>");
    }
    void sync_emptyBodyEmptiesProfilesAndClassesOnly() {
        QFETCH(QByteArray, reply);
        Setup &s = *setup;
        QVERIFY(run(kPlanted));
        QCOMPARE(syncSignals(s, reply), QStringList({QStringLiteral("syncCategorieOK"),
                                                     QStringLiteral("commandSuccessful")}));
        for (const char *table : {"buckets", "policies", "folders", "metadati"})
            QCOMPARE(
                mirrorRows(QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(table))),
                QStringList{QStringLiteral("0")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("2")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM metadati_values")),
                 QStringList{QStringLiteral("1")});
    }

    void sync_failureInTheMiddleLeavesMirrorAsItWas() {
        Setup &s = *setup;
        QVERIFY(run(kPlanted));
        // Documents come after profiles, policies and classes: a broken
        // trigger makes their insertion fail once the rest is written.
        QVERIFY(run({QStringLiteral("CREATE TRIGGER broken AFTER INSERT ON files BEGIN "
                                    "INSERT INTO no_such_table VALUES (1); END")}));
        const QStringList before = mirror();
        s.service().scriptReply(200, serviceReply(STATUS_SYNC_FOLDER_OK, QLatin1String(kSyncBody)),
                                QStringLiteral("syncfolder"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().first, QStringLiteral("Impossibile aggiornare l'archivio locale"));
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);
        QCOMPARE(mirror(), before);
    }

    void sync_clearOtherUserDataThenSecondPass() {
        Setup &s = *setup;
        const TestAccount account = s.anna(3);
        QVERIFY(
            run({QStringLiteral("INSERT INTO files VALUES ('mmmm', '', '', 'C:/m.pdf', 'TM', 1, "
                                "'mario', 7, 'PM', '', 'PC2')"),
                 QStringLiteral("INSERT INTO metadati_values (idmetadata, value, hash) VALUES "
                                "(1, 'di mario', 'mmmm')")}));
        QVWConn conn(s.jar.get(), false);
        QDomElement body;
        connect(&conn, &QVWConn::loginSuccessful, &conn, [&](const QDomElement &b) { body = b; });
        QVERIFY(signIn(conn, account));
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("4")});

        conn.clearOtherUserData(account.user);
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("0")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM buckets")),
                 QStringList{QStringLiteral("0")});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM folders")),
                 QStringList{QStringLiteral("2")});

        QSignalSpy done(&conn, &QVWConn::syncCategorieOK);
        conn.onSyncFolder(body);
        QCOMPARE(done.count(), 1);
        QCOMPARE(mirrorRows(QStringLiteral("SELECT DISTINCT username FROM files")),
                 QStringList{account.user});
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("3")});
        QCOMPARE(
            mirrorRows(QStringLiteral("SELECT count(*) FROM metadati_values WHERE hash = 'mmmm'")),
            QStringList{QStringLiteral("0")});

        // Only the signed-in user's documents: nothing to remove.
        conn.clearOtherUserData(account.user);
        QCOMPARE(mirrorRows(QStringLiteral("SELECT count(*) FROM files")),
                 QStringList{QStringLiteral("3")});
    }

    void sync_codeSyncIsNewestPreservedStamp() {
        Setup &s = *setup;
        QVERIFY(run({QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                                    "VALUES ('a', 1, 'T1', 'anna', 10)"),
                     QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                                    "VALUES ('b', 1, 'T2', 'anna', 12.5)"),
                     QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                                    "VALUES ('c', 1, '', 'anna', 99)"),
                     QStringLiteral("INSERT INTO files (hash, folderid, token, username, tsupdate) "
                                    "VALUES ('d', 1, 'T4', 'mario', 50)")}));
        QVWConn conn(s.jar.get(), false);
        QCOMPARE(conn.codeSync(QStringLiteral("anna")), QStringLiteral("12.5"));
        QCOMPARE(conn.codeSync(QStringLiteral("nessuno")), QStringLiteral("0.0"));

        conn.login(QStringLiteral("anna"), QStringLiteral("x"), false);
        QVERIFY(handled(s, QStringLiteral("login"), 1));
        QCOMPARE(s.requests(QStringLiteral("login")).first().element(QStringLiteral("codesync")),
                 QStringLiteral("12.5"));
    }

    // --- uploads and downloads -----------------------------------------------

    void transfer_uploadIsMultipartWithProgress() {
        Setup &s = *setup;
        QByteArray content(300 * 1024, Qt::Uninitialized);
        for (char &c : content)
            c = char(QRandomGenerator::global()->bounded(256));
        QTemporaryFile source;
        QVERIFY(source.open());
        source.write(content);
        source.flush();

        const QByteArray xml =
            envelope(QStringLiteral("uploadfile"), QStringLiteral("<hashfile>abc</hashfile>"));
        QHttpMultiPart *multiPart =
            uploadMultipart(xml, source.fileName(), QStringLiteral("fattura.pdf"));
        QVERIFY(multiPart);
        const QByteArray boundary = multiPart->boundary();
        QPointer<QHttpMultiPart> watched(multiPart);

        s.service().scriptReply(200,
                                serviceReply(QStringLiteral("21"), QStringLiteral("<metadato/>")),
                                QStringLiteral("uploadfile"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        conn.uploadMultipart(nullptr); // nothing at all
        conn.uploadMultipart(multiPart);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandSuccessful"));
        QCOMPARE(rec.last().second, QStringLiteral("21"));

        const auto uploads = s.requests(QStringLiteral("uploadfile"));
        QCOMPARE(uploads.size(), 1);
        const auto &r = uploads.first();
        QCOMPARE(r.header("Content-Type"), QByteArray("multipart/form-data;boundary=") + boundary);
        QCOMPARE(r.parts.size(), 2);
        QCOMPARE(r.parts.at(0).name, QStringLiteral("xml"));
        QCOMPARE(r.parts.at(0).contentType, QByteArray("text/xml;charset=UTF-8"));
        QCOMPARE(r.parts.at(0).body, xml);
        QCOMPARE(r.parts.at(1).name, QStringLiteral("file"));
        QCOMPARE(r.parts.at(1).fileName, QStringLiteral("fattura.pdf"));
        QCOMPARE(r.parts.at(1).contentType, QByteArray("application/octet-stream"));
        QVERIFY(r.parts.at(1).body == content);

        // Qt closes an upload with a (0, 0) report; the rest climbs to the
        // size of the whole body.
        QList<QPair<qint64, qint64>> progress = rec.uploads;
        progress.removeAll(QPair<qint64, qint64>(0, 0));
        QVERIFY(!progress.isEmpty());
        for (int i = 1; i < progress.size(); ++i)
            QVERIFY(progress.at(i).first >= progress.at(i - 1).first);
        QCOMPARE(progress.last(), (QPair<qint64, qint64>(r.body.size(), r.body.size())));
        // The multipart object (and the file it holds open) goes with its reply.
        QTRY_VERIFY_WITH_TIMEOUT(watched.isNull(), kTimeout);
    }

    void transfer_downloadProgressOnlyAbove512Bytes() {
        Setup &s = *setup;
        QVWConn conn(s.jar.get(), true);
        Recorder rec(conn);
        conn.onProgressDownload(300, 300);
        conn.onProgressDownload(512, 2000);
        conn.onProgressDownload(513, 2000);
        conn.onProgressDownload(2000, 2000);
        QCOMPARE(rec.downloads, (QList<QPair<qint64, qint64>>{{513, 2000}, {2000, 2000}}));
    }

    void transfer_downloadDeliversFile_data() {
        QTest::addColumn<int>("size");
        QTest::newRow("300 bytes") << 300;
        QTest::newRow("256 KiB") << 256 * 1024;
    }
    void transfer_downloadDeliversFile() {
        QFETCH(int, size);
        Setup &s = *setup;
        const TestAccount account = s.anna(0);
        QByteArray content(size, Qt::Uninitialized);
        for (int i = 0; i < size; ++i)
            content[i] = char('a' + i % 26);
        const PreservedVersion doc =
            s.fixture.store().preserve(account.user, account.classIds.first(),
                                       QStringLiteral("/home/anna/x.txt"), content, {});
        QVERIFY2(doc.isValid(), qPrintable(s.fixture.store().lastError()));
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));

        Recorder rec(conn);
        conn.setDownloadMode(true);
        sendXml(conn, envelope(QStringLiteral("ripristina"),
                               QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                                   .arg(doc.hash)
                                   .arg(doc.classId)));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("downloadFinish"));
        QCOMPARE(rec.last().first, QString::number(QNetworkReply::NoError));
        QVERIFY(rec.downloaded == content);
        if (size <= 512) {
            QVERIFY(rec.downloads.isEmpty());
        } else {
            QVERIFY(!rec.downloads.isEmpty());
            for (const auto &p : std::as_const(rec.downloads))
                QVERIFY(p.first > 512);
            QCOMPARE(rec.downloads.last(), (QPair<qint64, qint64>(size, size)));
        }
    }

    void transfer_downloadHttpErrorIsHandedOver() {
        Setup &s = *setup;
        s.service().scriptReply(404, QByteArray("<html>Non trovato</html>"),
                                QStringLiteral("ripristina"), QByteArray("text/html"));
        QVWConn conn(s.jar.get(), true);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("ripristina")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("downloadFinish"));
        QCOMPARE(rec.last().first, QString::number(QNetworkReply::ContentNotFoundError));
    }

    void transfer_downloadServiceErrorIsFailure() {
        Setup &s = *setup;
        s.service().scriptReply(
            500, failureReply(QStringLiteral("11"), QStringLiteral("Documento sconosciuto")),
            QStringLiteral("ripristina"));
        QVWConn conn(s.jar.get(), true);
        Recorder rec(conn);
        sendXml(conn, envelope(QStringLiteral("ripristina")));
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().first, QStringLiteral("Documento sconosciuto"));
        QCOMPARE(rec.last().second, QStringLiteral("11"));
    }

    void transfer_downloadAfterExpiryLogsInAndResends() {
        Setup &s = *setup;
        const TestAccount account = s.anna(1);
        const PreservedVersion doc = account.documents.first();
        QVWConn conn(s.jar.get(), false);
        QVERIFY(signIn(conn, account));
        s.service().expireSessionsNow();

        Recorder rec(conn);
        const QByteArray body = envelope(QStringLiteral("ripristina"),
                                         QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                                             .arg(doc.hash)
                                             .arg(doc.classId));
        auto download = [&] {
            conn.setDownloadMode(true);
            sendXml(conn, body);
        };
        connect(&conn, &QVWConn::retry, &rec, download);
        download();
        QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("downloadFinish")), 1, kTimeout);
        QCOMPARE(rec.names(),
                 QStringList({QStringLiteral("syncCategorieOK"), QStringLiteral("loginSuccessful"),
                              QStringLiteral("retry"), QStringLiteral("downloadFinish")}));
        QCOMPARE(rec.last().first, QString::number(QNetworkReply::NoError));
        QVERIFY(!rec.downloaded.isEmpty());
        QCOMPARE(s.requests(QStringLiteral("ripristina")).size(), 2);
        QCOMPARE(s.requests(QStringLiteral("login")).size(), 2);
    }

    // --- proxy ----------------------------------------------------------------

    void proxy_rightCredentialsPass() {
        Setup &s = *setup;
        SquidProxy squid;
        QVERIFY2(squid.start(QStringLiteral("utente"), QStringLiteral("chiave")),
                 qPrintable(squid.errorString()));
        const TestAccount account = s.anna(1);
        useProxy(QStringLiteral("127.0.0.1"), squid.port(), QStringLiteral("chiave"));
        {
            QVWConn conn(s.jar.get(), false);
            QCOMPARE(conn.proxy().type(), QNetworkProxy::HttpProxy);
            QCOMPARE(conn.proxy().port(), squid.port());
            Recorder rec(conn);
            conn.login(account.user, account.password, true);
            QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
            QCOMPARE(s.requests(QStringLiteral("login")).size(), 1);
        }
        // The tunnel is logged when it closes, with the connection; the
        // refused first attempt may be logged before it.
        const QByteArray tunnel =
            QByteArray("CONNECT 127.0.0.1:") + QByteArray::number(s.fixture.baseUrl().port());
        const auto authenticatedTunnel = [&] {
            const QList<QByteArray> lines = squid.accessLog().split('\n');
            return std::any_of(lines.cbegin(), lines.cend(), [&](const QByteArray &line) {
                return line.contains(tunnel) && line.contains(" utente ");
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(authenticatedTunnel(), kTimeout);
    }

    void proxy_wrongCredentialsEndInFailure() {
        Setup &s = *setup;
        SquidProxy squid;
        QVERIFY2(squid.start(QStringLiteral("utente"), QStringLiteral("chiave")),
                 qPrintable(squid.errorString()));
        useProxy(QStringLiteral("127.0.0.1"), squid.port(), QStringLiteral("sbagliata"));
        QVWConn conn(s.jar.get(), false);
        Recorder rec(conn);
        int asked = 0;
        connect(&conn, &QNetworkAccessManager::proxyAuthenticationRequired, &rec, [&] { ++asked; });
        conn.login(QStringLiteral("anna"), QStringLiteral("segreta"), true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 1, kTimeout);
        QCOMPARE(rec.last().name, QStringLiteral("commandFailure"));
        QCOMPARE(rec.last().first, QStringLiteral("Username o password del proxy errate"));
        QCOMPARE(rec.last().second, STATUS_NETWORK_ERROR);
        QCOMPARE(asked, 3);
        // Nothing else follows for that reply, and the service never saw it.
        QTest::qWait(500);
        QCOMPARE(rec.events.size(), 1);
        QVERIFY(s.service().requests().isEmpty());
        QTRY_VERIFY_WITH_TIMEOUT(squid.accessLog().contains("TCP_DENIED/407"), kTimeout);
    }

    void proxy_emptyHostGoesDirect() {
        Setup &s = *setup;
        SquidProxy squid;
        QVERIFY2(squid.start(QStringLiteral("utente"), QStringLiteral("chiave")),
                 qPrintable(squid.errorString()));
        const TestAccount account = s.anna(1);
        Setting setting;
        useProxy(QString(), squid.port());
        {
            QVWConn conn(s.jar.get(), false);
            QCOMPARE(conn.proxy().type(), QNetworkProxy::NoProxy);
            Recorder rec(conn);
            conn.login(account.user, account.password, true);
            QTRY_COMPARE_WITH_TIMEOUT(rec.count(QStringLiteral("retry")), 1, kTimeout);
        }
        QTest::qWait(500);
        QVERIFY(!squid.accessLog().contains("CONNECT"));

        // Set afterwards, the proxy takes effect on applyProxySettings().
        setting.setValue(QStringLiteral("proxyUrl"), QStringLiteral("127.0.0.1"));
        QVWConn conn(s.jar.get(), false);
        setting.setValue(QStringLiteral("proxyUrl"), QString());
        QCOMPARE(conn.proxy().type(), QNetworkProxy::HttpProxy);
        conn.applyProxySettings();
        QCOMPARE(conn.proxy().type(), QNetworkProxy::NoProxy);
    }
};

QTEST_MAIN(TestConnection)
#include "tst_connection.moc"
