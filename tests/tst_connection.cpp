#include "QueryRows.h"
#include "ServiceXml.h"
#include "Session.h"
#include "SquidProxy.h"
#include "TestMain.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "service/ReplyLimits.h"
#include "ServiceStore.h"
#include "update/DialogUpdate.h"

#include <QAuthenticator>
#include <QCryptographicHash>
#include <QLabel>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QSslConfiguration>
#include <QtTest>

namespace {

const QString kSynced = "commandSuccessful|body/statusdescription|5@3";
const QString kExpired = "Sessione scaduta o non valida: effettuare di nuovo l'accesso";
const QString kUnreadable = "La risposta del servizio non è leggibile: riprovare più tardi";
const QString kHostile = "La risposta del servizio non è valida (troppo grande, troppo annidata o "
                         "con valori troppo lunghi): riprovare più tardi";

// Every signal of a connection as "name|text|text@documents in the mirror when it came".
class Recorder : public QObject {
public:
    explicit Recorder(QVWConn &conn) {
        connect(&conn, &QVWConn::loginSuccessful, this,
                [this](const QDomElement &body) { add("loginSuccessful", body.tagName()); });
        connect(&conn, &QVWConn::loginFailure, this, [this] { add("loginFailure"); });
        connect(&conn, &QVWConn::commandSuccessful, this, [this](QDomElement body, QString status) {
            add("commandSuccessful",
                body.isNull() ? "null" : body.tagName() + '/' + body.firstChildElement().tagName(),
                status);
        });
        connect(&conn, &QVWConn::commandFailure, this, [this](QString message, QString status) {
            add("commandFailure", message, status);
        });
        connect(&conn, &QVWConn::syncCategorieOK, this, [this] { add("syncCategorieOK"); });
        connect(&conn, &QVWConn::retry, this, [this] { add("retry"); });
        connect(&conn, &QVWConn::downloadFinish, this, [this](QNetworkReply *reply) {
            downloaded = reply->readAll(); // as receivers do, at once
            add("downloadFinish", QString::number(reply->error()),
                QString::number(downloaded.size()));
        });
        connect(&conn, &QNetworkAccessManager::finished, this, [this] { ++finished; });
    }
    void add(const char *name, const QString &a = {}, const QString &b = {}) {
        events << QStringList{name, a, b}.join('|') + '@' + QString::number(mirrorCount("files"));
    }
    QStringList events;
    int finished = 0; // replies the connection has finished with
    QByteArray downloaded;
};

void sendXml(QVWConn &conn, const QByteArray &body) {
    conn.request().setHeader(QNetworkRequest::ContentTypeHeader, "text/xml;charset=UTF-8");
    conn.sendRequest(&body);
}

bool run(const QStringList &statements) {
    bool ok = true;
    for (const QString &sql : statements)
        ok = mirrorRows(sql).isEmpty() && ok;
    return ok;
}

// What a synchronisation writes.
QStringList rows() {
    QStringList out;
    for (const char *sql : {"buckets", "policies", "folders ORDER BY 1", "metadati ORDER BY 1",
                            "(SELECT hash, folderid, token, tsupdate FROM files ORDER BY 1)",
                            "(SELECT idmetadata, value, hash FROM metadati_values ORDER BY 3)"})
        out << mirrorRows(QStringLiteral("SELECT * FROM %1").arg(sql));
    return out;
}

QString loginBody(const QString &user, const QString &password, bool force, const QString &sync) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login"
                          "</action><username>%1</username><password>%2</password>%3<codesync>%4"
                          "</codesync><version>1.2.1</version><platform>%5</platform></request>")
        .arg(user, password, force ? "<forceLogin>1</forceLogin>" : "", sync,
             ClientInfo::platform());
}

// The reply a connection has in flight, watched until it finishes; its error then.
struct InFlight : QObject {
    explicit InFlight(QVWConn &conn) {
        for (QNetworkReply *reply : conn.findChildren<QNetworkReply *>())
            connect(reply, &QNetworkReply::finished, this,
                    [this, reply] { error = reply->error(); });
    }
    int error = -1; // not finished
};

// A synchronisation body exercising the merge rules: profile, policy, two classes whose
// fields carry their own class number, a class given twice, a document that replaces one
// already held, and a field value given twice.
const char kSyncBody[] = R"(<bucket id="P1" description="Profilo più &amp; €" quota="100" used="5" unit="MB"
div="1000000"/><policie policie="POL1" idbucket="P1" description="Dieci anni"/><folders><folder
id="1" name="Fatture" groups="Amministrazione" custom="0" idbuckets="P1" idpolicies="POL1"><metadato
idmetadato="11" idfolder="1" name="Numero" type="2" visible="1" required="1" custom="0"/></folder>
<folder id="2" name="Contratti" groups="Legale" custom="1" idbuckets="P1" idpolicies="POL1"><metadato
idmetadato="21" idfolder="7" name="Firmatario" type="1" visible="0" required="0" custom="1"/>
<metadato idmetadato="22" idfolder="2" name="Data" type="3"/></folder><folder id="1" name="Doppia"/>
</folders><metadato idmetadato="99" idfolder="1" name="Fuori"/><files><file hash="aaaa" hash4k="a4"
last_modified="01/02/2024 10:00:00" filename="C:/doc/a.pdf" token="TOK-NEW" idfolder="1"
username="anna" tsupdate="12.5" idbuckets="P1" tsconserve="02/02/2024" computer_name="PC1"/>
</files><metadatoValue key="11" value="primo" hash="aaaa"/><metadatoValue key="11" value="ultimo"
hash="aaaa"/>)";

// What the mirror held before such a body arrives.
const QStringList kPlanted = {
    "INSERT INTO buckets VALUES ('OLD', 'Vecchio', 1, 1, 'MB', 1)",
    "INSERT INTO policies VALUES ('OLDPOL', 'OLD', 'Vecchia')",
    "INSERT INTO folders VALUES (9, 'Vecchia', '', 0, 'OLD', 'OLDPOL')",
    "INSERT INTO metadati VALUES (90, 9, 'Vecchio', 1, 1, 0, 0)",
    "INSERT INTO files (hash, folderid, token, username, tsupdate) VALUES ('aaaa', 1, 'TOK-OLD', "
    "'anna', 3), ('bbbb', 2, 'TOK-B', 'anna', 4)",
    "INSERT INTO metadati_values (idmetadata, value, hash) VALUES (21, 'Rossi', 'bbbb')"};

} // namespace

class TestConnection : public QObject {
    Q_OBJECT

    TestHome home;
    std::unique_ptr<ServiceFixture> fixture;
    std::unique_ptr<QNetworkCookieJar> jar;
    TestAccount anna;
    LocalService &service() { return fixture->service(); }
    auto requests(const QString &action) { return service().requests(action); }
    bool signIn(QVWConn &conn) {
        QSignalSpy accepted(&conn, &QVWConn::loginSuccessful);
        conn.login(anna.user, anna.password, true);
        return accepted.wait(kTimeout) && accepted.count() == 1;
    }

private slots:
    void initTestCase() {
        fixture = std::make_unique<ServiceFixture>();
        QVERIFY2(fixture->isRunning(), qPrintable(fixture->errorString()));
        anna = fixture->createAccount("anna", "segreta", 3);
        fixture->createAccount("o'neil&co", "p<&>\"'%4x", 1);
    }
    // A new cookie jar is a new client: no session; the mirror starts empty.
    void init() {
        jar = std::make_unique<QNetworkCookieJar>();
        service().clearScript();
        service().clearRequests();
        service().expireEveryNthRequest(0);
        QVERIFY(run({"DELETE FROM buckets", "DELETE FROM policies", "DELETE FROM folders",
                     "DELETE FROM metadati", "DELETE FROM files", "DELETE FROM metadati_values",
                     "DROP TRIGGER IF EXISTS broken"}));
    }

    // What each kind of reply becomes: the signals in order, each with the documents the
    // mirror held when it came. `http` is a scripted reply's status, 0 the service's own reply.
    void reply_data() {
        QTest::addColumn<QString>("send"); // an action, or "login:<password>"
        QTest::addColumn<int>("http");
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<QStringList>("events");
        const int cutShort = -1, noService = -2, untrusted = -3;
        const QByteArray deep =
            QByteArray("<a>").repeated(100000) + QByteArray("</a>").repeated(100000);
        const QByteArray big(ReplyLimits::kMaxValueChars + 1, 'v');
        const QStringList hostile{"commandFailure|" + kHostile + "|-1@0"};
        // Written as they came, the rows of such a reply are undone: no document is left.
        const QStringList unreadable{"commandFailure|" + kUnreadable + "|-1@0"};
        const QByteArray synced = serviceReply("5", R"(<folder id="1"/><file hash="n"/>)");
        QByteArray laughs = "<?xml version=\"1.0\"?><!DOCTYPE response [<!ENTITY l0 \"lol\">";
        for (int i = 1; i < 10; ++i)
            laughs += QString("<!ENTITY l%1 \"%2\">").arg(i).arg(QString("&l%1;").arg(i - 1).repeated(10)).toUtf8();
        laughs += "]><response><statusnumber>1</statusnumber><body>&l9;<file hash=\"n\"/></body></response>";
        const auto refusal = [](const char *status, const char *text) {
            return serviceReply(status,
                                QString("<statusdescription>%1</statusdescription>").arg(text));
        };
        const struct {
            const char *tag, *send;
            int http;
            QByteArray reply;
            QStringList events;
        } rows[] = {
            // clang-format off
            {"login accepted: mirror first", "login:segreta", 0, {},
             {"syncCategorieOK||@3", "loginSuccessful|body|@3", "retry||@3"}},
            {"login refused", "login:sbagliata", 0, {}, {"loginFailure||@0"}},
            {"update required: dialog only", "login:update", 0, {}, {"dialog|Serve la versione 2|modal@0"}},
            {"untrusted certificate", "login:segreta", untrusted, {}, {"commandFailure|SSL handshake failed: "
             "The root certificate of the certificate chain is self-signed, and untrusted|-1@0"}},
            {"syncfolder: mirror first", "syncfolder", 200, synced,
             {"syncCategorieOK||@1", "commandSuccessful|body/folder|5@1"}},
            {"syncfolder unterminated", "syncfolder", 200, synced.chopped(11), unreadable},
            {"login with a garbage body", "login:segreta", 200, serviceReply("1", "<file hash=\"n\"/>\x01<"), unreadable},
            {"login in another encoding: read whole", "login:segreta", 200, QByteArray(serviceReply("1", "<file hash=\"n\"/>"))
             .replace("UTF-8", "ISO-8859-1"), {"syncCategorieOK||@1", "loginSuccessful|body|@1", "retry||@1"}},
            {"login with entity tricks: unreadable", "login:segreta", 200, laughs, unreadable},
            {"login answered otherwise after its rows", "login:segreta", 200, serviceReply("2", "<file hash=\"n\"/>"), {"commandSuccessful|body/|2@0"}},
            {"other success: body and status", "getexhibitorconfig", 200, serviceReply("40", "<exhibitor/>"),
             {"commandSuccessful|body/exhibitor|40@0"}},
            {"refusal: its description", "changePWD", 500, refusal("37", "Password non valida"),
             {"commandFailure|Password non valida|37@0"}},
            {"validation: the element", "savevaluemetadati", 500,
             serviceReply("20", R"(<statusdescription>No</statusdescription><validation><field m="&amp;"/></validation>)"),
             {"commandFailure|    <validation>\n        <field m=\"&amp;\"/>\n    </validation>\n|20@0"}},
            {"200 not XML", "history", 200, "Manutenzione <<", {"commandSuccessful|null|@0"}},
            {"500 not XML", "history", 500, "Manutenzione <<", {"commandFailure||@0"}},
            // Beyond what any honest reply holds: refused in linear time, in whichever encoding.
            {"nested 100,000 deep", "syncfolder", 200, serviceReply("5", deep), hostile},
            {"nested deep, Latin-1", "history", 500, "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>" + deep, hostile},
            {"huge attribute", "login:segreta", 200, serviceReply("1", "<bucket id=\"" + big + "\"/>"), hostile},
            {"command reply beyond 64 MiB", "history", 200, QByteArray(ReplyLimits::kMaxCommandBytes + 1, ' '), hostile},
            {"huge text", "history", 200, serviceReply("29", "<statusdescription>" + big + "</statusdescription>"), hostile},
            {"HTTP 403", "history", 403, "<html/>", {"commandFailure|Error transferring %url - server replied: Forbidden|-1@0"}},
            {"no service", "history", noService, {}, {"commandFailure|Connection refused|-1@0"}},
            {"cut short", "syncfolder", cutShort, {}, {"commandFailure|Connection closed|-1@0"}},
            {"download: the file", "ripristina", 200, QByteArray(2000, 'q'), {"downloadFinish|0|2000@0"}},
            {"download: HTTP error handed over", "ripristina", 404, "<html/>", {"downloadFinish|203|7@0"}},
            {"download: service error is failure", "ripristina", 500, refusal("11", "Documento sconosciuto"),
             {"commandFailure|Documento sconosciuto|11@0"}},
            // clang-format on
        };
        for (const auto &row : rows)
            QTest::newRow(row.tag) << QString(row.send) << row.http << row.reply << row.events;
    }
    void reply() {
        QFETCH(QString, send);
        QFETCH(int, http);
        QFETCH(QByteArray, reply);
        QFETCH(QStringList, events);
        events.replaceInStrings("%url", fixture->restUrl().toString());
        const bool download = send == QLatin1String("ripristina");
        if (http > 0)
            service().scriptReply(http, reply, send.section(':', 0, 0),
                                  reply.startsWith('<') ? "text/xml" : "text/plain");
        if (http == -1)
            service().injectFault(LocalService::Fault::CloseMidReply, send);
        if (send == QLatin1String("login:update"))
            service().forceUpdateRequiredOnNextLogin("Serve la versione 2");
        QVWConn conn(jar.get(), download);
        if (http == -2)
            conn.request().setUrl(QUrl("https://127.0.0.1:1/vazedo/RestService"));
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setCaCertificates(QSslConfiguration::systemCaCertificates()); // not the service's CA
        if (http == -3)
            conn.request().setSslConfiguration(tls);
        Recorder rec(conn);
        if (send.startsWith("login:"))
            conn.login(anna.user, send.mid(6), true);
        else
            send == "syncfolder" ? conn.syncFolder() : sendXml(conn, envelope(send));
        QVERIFY(QTest::qWaitFor(
            [&] {
                if (auto *dialog = visibleTopLevel<DialogUpdate>()) {
                    rec.add("dialog", child<QLabel>(dialog, "lblMessaggio")->text(),
                            dialog->isModal() ? "modal" : "");
                    dialog->hide();
                }
                return rec.events.size() >= events.size();
            },
            kTimeout));
        QCOMPARE(rec.events, events);
        QCOMPARE(service().requests().isEmpty(), http < -1); // the service saw nothing of these
        QVERIFY(!download || http != 200 || rec.downloaded == reply);
    }

    void expiryMidCommandLogsInAndResends_data() {
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("last");
        QTest::newRow("command") << "history" << "commandSuccessful|body/statusdescription|29@3";
        QTest::newRow("download") << "ripristina" << "downloadFinish|0|%1@3";
    }
    void expiryMidCommandLogsInAndResends() {
        QFETCH(QString, action);
        QFETCH(QString, last);
        const bool download = action == QLatin1String("ripristina");
        const PreservedVersion doc = anna.documents.first();
        QVWConn conn(jar.get(), false);
        QVERIFY(signIn(conn));
        const QString codesync = conn.codeSync(anna.user);
        service().expireSessionsNow();
        Recorder rec(conn);
        const auto send = [&] {
            conn.setDownloadMode(download);
            sendXml(conn, envelope(action, QString("<hash>%1</hash><folderid>%2</folderid>")
                                               .arg(doc.hash, QString::number(doc.classId))));
        };
        connect(&conn, &QVWConn::retry, &rec, send);
        send();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 4, kTimeout);
        QCOMPARE(rec.events, (QStringList{"syncCategorieOK||@3", "loginSuccessful|body|@3",
                                          "retry||@3", last.arg(doc.size)}));
        if (download)
            QCOMPARE(QCryptographicHash::hash(rec.downloaded, QCryptographicHash::Sha1).toHex(),
                     doc.hash.toLatin1());
        const QString resent = action + (download ? ":" : ":29");
        QCOMPARE(requestLog(service()), QString("login:1 %1:19 login:1 %2").arg(action, resent));
        // The automatic login: the stored credentials, without forceLogin.
        QCOMPARE(service().requests().at(2).body,
                 loginBody(anna.user, anna.password, false, codesync).toUtf8());
    }

    // Expiry keeps coming back: the renewals per command are bounded, and every command,
    // even one after a network failure, has its own.
    void expiryRenewalIsBounded() {
        QVWConn conn(jar.get(), false);
        QVERIFY(signIn(conn));
        service().expireEveryNthRequest(1);
        Recorder rec(conn);
        connect(&conn, &QVWConn::retry, &rec, [&] { conn.syncFolder(); });
        conn.syncFolder();
        const QString expired = "commandFailure|" + kExpired + "|19@3";
        QTRY_VERIFY_WITH_TIMEOUT(rec.events.contains(expired), kTimeout);
        QCOMPARE(rec.events.count("retry||@3"), 3);
        QCOMPARE(rec.events.size(), 3 * 3 + 1);
        QCOMPARE(requests("login").size(), 1 + 3);
        QCOMPARE(requests("syncfolder").size(), 4);
        QCOMPARE(requests("syncfolder").first().body,
                 envelope("syncfolder", "<codesync>" + conn.codeSync(anna.user) + "</codesync>"));
        // The bound is per command: the next one may log in again.
        service().expireEveryNthRequest(0);
        service().expireSessionsNow();
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 10 + 5, kTimeout);
        QCOMPARE(rec.events.last(), kSynced);
        QCOMPARE(requests("login").size(), 5);

        service().scriptReply(403, "vietato", "syncfolder", "text/plain");
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 16, kTimeout);
        service().expireSessionsNow(); // a failure ends its command, not the next one's renewal
        conn.syncFolder();
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 16 + 5, kTimeout);
        QCOMPARE(rec.events.last(), kSynced);
        QCOMPARE(requests("login").size(), 6);
    }

    // A newer login or command, or a logout, drops the reply in flight: once that has
    // finished, nothing of it has been heard.
    void supersededRequestIsSilent_data() {
        QTest::addColumn<QString>("by");
        QTest::addColumn<QStringList>("events");
        const QString synced = "syncCategorieOK||@3";
        QTest::newRow("login") << "login"
                               << QStringList{synced, "loginSuccessful|body|@3", "retry||@3"};
        QTest::newRow("command") << "syncfolder" << QStringList{synced, kSynced};
        QTest::newRow("logout") << "logout" << QStringList();
    }
    void supersededRequestIsSilent() {
        QFETCH(QString, by);
        QFETCH(QStringList, events);
        const bool login = by == QLatin1String("login");
        QVWConn conn(jar.get(), false);
        if (!login)
            QVERIFY(signIn(conn));
        auto rec = std::make_unique<Recorder>(conn);
        const auto send = [&](const QString &password) {
            login ? conn.login(anna.user, password, true) : conn.syncFolder();
        };
        service().delayReply(3000, login ? "login" : "syncfolder");
        send("sbagliata"); // a login that would be refused
        QTRY_VERIFY_WITH_TIMEOUT(!requests(login ? "login" : "syncfolder").isEmpty(), kTimeout);
        InFlight old(conn);
        if (by == QLatin1String("logout")) {
            conn.logout();
            rec = std::make_unique<Recorder>(conn); // silenced for good: not even a login is heard
            conn.login(anna.user, anna.password, false);
        } else {
            send(anna.password);
        }
        QTRY_VERIFY_WITH_TIMEOUT(old.error != -1 && rec->finished == (by == "logout" ? 1 : 2) &&
                                     rec->events.size() >= events.size(),
                                 kTimeout);
        QCOMPARE(old.error, int(QNetworkReply::OperationCanceledError));
        QCOMPARE(rec->events, events);
    }

    // A login dropped while its large reply is being written leaves none of its rows, and the
    // next one is written at once: nothing waits for the first one's transaction.
    void loginSupersededMidSyncUndoesItsRows() {
        QString error;
        QVERIFY2(fixture->store().generate({"grande", "Grande1!", 20000, 2, 5, 2}, &error),
                 qPrintable(error));
        QVWConn conn(jar.get(), false);
        Recorder rec(conn);
        QSignalSpy sent(&service(), &LocalService::requestHandled);
        conn.login("grande", "Grande1!", true);
        QVERIFY(sent.wait(kTimeout)); // all of it is on its way
        conn.login(anna.user, anna.password, true);
        QTRY_COMPARE_WITH_TIMEOUT(rec.events.size(), 3, 4000);
        QCOMPARE(rec.events, (QStringList{"syncCategorieOK||@3", "loginSuccessful|body|@3",
                                          "retry||@3"}));
    }

    // With codesync, the newest stamp among the user's own preserved documents.
    void loginBodyIsExactAndEscaped_data() {
        QTest::addColumn<QString>("user");
        QTest::addColumn<QString>("password");
        QTest::addColumn<bool>("force");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("interactive") << "anna" << "segreta" << true << true;
        QTest::newRow("automatic") << "anna" << "segreta" << false << true;
        QTest::newRow("no password") << "anna" << "" << true << false;
        QTest::newRow("special characters") << "o'neil&co" << "p<&>\"'%4x" << false << true;
        QTest::newRow("user name injecting elements")
            << "x</username><forceLogin>1</forceLogin><username>y" << "segreta" << false << false;
    }
    void loginBodyIsExactAndEscaped() {
        QFETCH(QString, user);
        QFETCH(QString, password);
        QFETCH(bool, force);
        QFETCH(bool, accepted);
        QVWConn conn(jar.get(), false);
        Recorder rec(conn);
        conn.login(QString(), QString(), force); // refused at once, never sent
        conn.login(user, password, force);
        QTRY_VERIFY_WITH_TIMEOUT(rec.events.size() >= (accepted ? 4 : 2), kTimeout);
        QCOMPARE(rec.events.first(), "loginFailure||@0");
        QCOMPARE(rec.events.last().section('@', 0, 0), accepted ? "retry||" : "loginFailure||");
        const auto logins = requests("login");
        QCOMPARE(logins.size(), 1);
        QCOMPARE(logins.first().element("username"), user);
        QCOMPARE(logins.first().element("password"), password);
        QCOMPARE(logins.first().element("forceLogin"), force ? "1" : "");
        QCOMPARE(logins.first().header("Content-Type"), "text/xml;charset=UTF-8");
        if (user == anna.user)
            QCOMPARE(logins.first().body, loginBody(user, password, force, "0.0").toUtf8());
    }

    // A body failing in the middle (documents come after profiles, policies and classes)
    // leaves the mirror as it was.
    void syncReplacesClassesAndMergesDocuments_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("broken");
        QTest::addColumn<QString>("first");
        QTest::addColumn<QStringList>("rows");
        const QString ok = "syncCategorieOK||@2";
        const QStringList documentsOnly{"aaaa|1|TOK-OLD|3", "bbbb|2|TOK-B|4", "21|Rossi|bbbb"};
        // clang-format off
        QTest::newRow("merge") << serviceReply("5", kSyncBody) << false << ok << QStringList{
            "P1|Profilo più & €|100|5|MB|1000000", "POL1|P1|Dieci anni", "1|Fatture|Amministrazione|0|P1|POL1",
            "2|Contratti|Legale|1|P1|POL1", // each field keeps its own class number:
            "11|1|Numero|2|1|1|0", "21|7|Firmatario|1|0|0|1", "22|2|Data|3|0|0|0",
            "aaaa|1|TOK-NEW|12.5", "bbbb|2|TOK-B|4", "11|ultimo|aaaa", "21|Rossi|bbbb"};
        QTest::newRow("empty body") << serviceReply("5", "") << false << ok << documentsOnly;
        QTest::newRow("no body") << QByteArray("<r><statusnumber>5</statusnumber></r>") << false << ok << documentsOnly;
        QTest::newRow("failing in the middle") << serviceReply("5", kSyncBody) << true
            << "commandFailure|Impossibile aggiornare l'archivio locale|-1@2" << QStringList{
            "OLD|Vecchio|1|1|MB|1", "OLDPOL|OLD|Vecchia", "9|Vecchia||0|OLD|OLDPOL", "90|9|Vecchio|1|1|0|0",
            "aaaa|1|TOK-OLD|3", "bbbb|2|TOK-B|4", "21|Rossi|bbbb"};
        // clang-format on
    }
    void syncReplacesClassesAndMergesDocuments() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, broken);
        QFETCH(QString, first);
        QFETCH(QStringList, rows);
        QVERIFY(run(kPlanted));
        if (broken)
            QVERIFY(run(
                {"CREATE TRIGGER broken AFTER INSERT ON files BEGIN SELECT x FROM nowhere; END"}));
        service().scriptReply(200, reply, "syncfolder");
        QVWConn conn(jar.get(), false);
        Recorder rec(conn);
        conn.syncFolder();
        QTRY_VERIFY_WITH_TIMEOUT(!rec.events.isEmpty(), kTimeout);
        QCOMPARE(rec.events.first(), first);
        QCOMPARE(::rows(), rows);
    }

    void proxyCredentials() {
        SquidProxy squid;
        QVERIFY2(squid.start("utente", "chiave"), qPrintable(squid.errorString()));
        Setting setting;
        const auto useProxy = [&](const QString &host, const QString &password) {
            setting.setValue("proxyUrl", host);
            setting.setValue("proxyPort", QString::number(squid.port()));
            setting.setValue("proxyUsername", "utente");
            setting.setValue("proxyPassword", password);
        };
        // No host: straight to the service (through squid it would need a password).
        useProxy(QString(), QString());
        QVWConn direct(jar.get(), false);
        QVERIFY(signIn(direct));

        useProxy("127.0.0.1", "sbagliata");
        QVWConn wrong(jar.get(), false);
        Recorder refused(wrong);
        int asked = 0;
        connect(&wrong, &QNetworkAccessManager::proxyAuthenticationRequired, &refused,
                [&] { ++asked; });
        wrong.login(anna.user, anna.password, true);
        QTRY_COMPARE_WITH_TIMEOUT(refused.events.size(), 1, kTimeout);
        QCOMPARE(refused.events.first(),
                 "commandFailure|Username o password del proxy errate|-1@3");
        QCOMPARE(asked, 3);

        useProxy("127.0.0.1", "chiave");
        {
            QVWConn right(jar.get(), false);
            QCOMPARE(right.proxy(),
                     QNetworkProxy(QNetworkProxy::HttpProxy, "127.0.0.1", squid.port()));
            QVERIFY(signIn(right));
        } // squid logs a tunnel when it closes
        // The refused login never reached the service, and said nothing more meanwhile.
        QCOMPARE(requests("login").size(), 2);
        QCOMPARE(refused.events.size(), 1);
        const QByteArray log = "CONNECT 127.0.0.1:" + QByteArray::number(fixture->baseUrl().port());
        QTRY_VERIFY_WITH_TIMEOUT(squid.accessLog().contains(log + " utente "), kTimeout);
        QVERIFY(squid.accessLog().contains("TCP_DENIED/407"));
        // Changed afterwards, the settings take effect on applyProxySettings().
        QCOMPARE(direct.proxy().type(), QNetworkProxy::NoProxy);
        direct.applyProxySettings();
        QCOMPARE(direct.proxy().type(), QNetworkProxy::HttpProxy);
        useProxy(QString(), QString());
    }
};

QUILLORA_TEST_MAIN(TestConnection)
#include "tst_connection.moc"
