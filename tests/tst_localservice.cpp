#include "DemoSeed.h"
#include "LocalService.h"
#include "MultipartParser.h"
#include "ServiceFixture.h"
#include "ServiceXml.h"

#include <QCryptographicHash>
#include <QDomDocument>
#include <QHttpMultiPart>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkReply>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QtTest>

namespace {
const QString kVersion = QStringLiteral("1.2.1");

struct Answer {
    int http = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QByteArray raw;
    QDomDocument document;

    QString status() const {
        return document.elementsByTagName(QStringLiteral("statusnumber"))
            .item(0)
            .toElement()
            .text();
    }
    QDomElement body() const {
        return document.elementsByTagName(QStringLiteral("body")).item(0).toElement();
    }
    QString description() const {
        return body().firstChildElement(QStringLiteral("statusdescription")).text();
    }
    int count(const QString &tag) const { return document.elementsByTagName(tag).size(); }
    QDomElement first(const QString &tag) const {
        return document.elementsByTagName(tag).item(0).toElement();
    }
};

QString sha1(const QByteArray &data) {
    return QString::fromLatin1(QCryptographicHash::hash(data, QCryptographicHash::Sha1).toHex());
}

// A client of its own (cookie jar included) talking to the fixture.
class Client {
public:
    explicit Client(ServiceFixture &fixture)
        : m_fixture(fixture) {
        m_manager.setCookieJar(new QNetworkCookieJar(&m_manager));
    }

    Answer wait(QNetworkReply *reply) {
        if (!reply->isFinished()) {
            QEventLoop loop;
            QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
            QTimer::singleShot(60000, &loop, &QEventLoop::quit);
            loop.exec();
        }
        Answer a;
        a.http = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        a.error = reply->error();
        a.raw = reply->readAll();
        a.document.setContent(a.raw);
        reply->deleteLater();
        return a;
    }

    QNetworkReply *send(const QByteArray &body) {
        QNetworkRequest request(m_fixture.restUrl());
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("text/xml;charset=UTF-8"));
        return m_manager.post(request, body);
    }

    Answer post(const QByteArray &body) { return wait(send(body)); }
    Answer action(const QString &action, const QString &elements = QString()) {
        return post(envelope(action, elements));
    }

    Answer login(const QString &user, const QString &password,
                 const QString &codesync = QStringLiteral("0.0"), const QString &version = kVersion,
                 bool force = true) {
        return action(QStringLiteral("login"),
                      QStringLiteral("<username>%1</username><password>%2</password>%3<codesync>%4"
                                     "</codesync><version>%5</version><platform>win</platform>")
                          .arg(user, password,
                               force ? QStringLiteral("<forceLogin>1</forceLogin>") : QString(),
                               codesync, version));
    }

    // Multipart as the client builds it: part "xml", then the file whose
    // part name is its full path.
    Answer upload(const QByteArray &xml, const QString &path, const QByteArray &content) {
        auto *multi = new QHttpMultiPart(QHttpMultiPart::FormDataType);
        QHttpPart xmlPart;
        xmlPart.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArrayLiteral("text/xml;charset=UTF-8"));
        xmlPart.setHeader(QNetworkRequest::ContentDispositionHeader,
                          QByteArrayLiteral("form-data; name=\"xml\""));
        xmlPart.setBody(xml);
        QHttpPart filePart;
        filePart.setHeader(QNetworkRequest::ContentTypeHeader,
                           QByteArrayLiteral("application/octet-stream"));
        filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                           QByteArray("form-data; name=\"") + path.toUtf8() + '"');
        filePart.setBody(content);
        multi->append(xmlPart);
        multi->append(filePart);
        QNetworkRequest request(m_fixture.restUrl());
        request.setHeader(QNetworkRequest::ContentTypeHeader,
                          QByteArray("multipart/form-data;boundary=") + multi->boundary());
        QNetworkReply *reply = m_manager.post(request, multi);
        multi->setParent(reply);
        return wait(reply);
    }

    Answer uploadFile(int classId, const QString &path, const QByteArray &content,
                      const QString &replacedHash = QString(),
                      const QString &declared = QString()) {
        const QString action = replacedHash.isEmpty() ? QStringLiteral("uploadfile")
                                                      : QStringLiteral("sostituiscifile");
        QString elements = QStringLiteral("<idfolder>%1</idfolder><last_modified>05/03/2013 "
                                          "10:20:30</last_modified><hashfile>%2</hashfile>")
                               .arg(classId)
                               .arg(declared.isEmpty() ? sha1(content) : declared);
        if (!replacedHash.isEmpty())
            elements += QStringLiteral("<hash>%1</hash>").arg(replacedHash);
        return upload(envelope(action, elements), path, content);
    }

    Answer saveValues(int classId, const QString &hash, const QList<QPair<int, QString>> &values,
                      const QString &previousHash = QString()) {
        QString elements = QStringLiteral("<hash>%1</hash>").arg(hash);
        if (!previousHash.isEmpty())
            elements += QStringLiteral("<hashprecedente>%1</hashprecedente>").arg(previousHash);
        elements += QStringLiteral("<folderid>%1</folderid><computername>PC-TEST</computername>")
                        .arg(classId);
        for (const auto &v : values)
            elements +=
                QStringLiteral("<metadato key=\"%1\" value=\"%2\"/>").arg(v.first).arg(v.second);
        return action(previousHash.isEmpty() ? QStringLiteral("savevaluemetadati")
                                             : QStringLiteral("sostituiscivaluemetadati"),
                      elements);
    }

    Answer get(const QString &pathAndQuery) {
        return wait(m_manager.get(QNetworkRequest(QUrl(m_fixture.baseUrlString() + pathAndQuery))));
    }

    QNetworkAccessManager &manager() { return m_manager; }

private:
    ServiceFixture &m_fixture;
    QNetworkAccessManager m_manager;
};

// What most tests start from: the local service, the account "anna" / "pw"
// with `documents` documents and a client signed in as her (loginStatus is
// the status of that login; nothing is made when the service is not up).
struct AnnaSignedIn {
    explicit AnnaSignedIn(int documents)
        : account(fixture.isRunning() ? fixture.createAccount(QStringLiteral("anna"),
                                                              QStringLiteral("pw"), documents)
                                      : TestAccount())
        , client(fixture)
        , loginStatus(fixture.isRunning()
                          ? client.login(QStringLiteral("anna"), QStringLiteral("pw")).status()
                          : QString()) {}

    ServiceFixture fixture;
    TestAccount account;
    Client client;
    QString loginStatus;
};

QList<QPair<int, QString>> goodValues(const TestAccount &account, int classId) {
    const QList<int> f = account.fieldIds.value(classId);
    return {{f.at(0), QStringLiteral("12/2013")},
            {f.at(1), QStringLiteral("1250,50")},
            {f.at(2), QStringLiteral("05/03/2013")}};
}
} // namespace

class TestLocalService : public QObject {
    Q_OBJECT

private slots:
    // --- multipart parser ---------------------------------------------------
    void multipartBinaryBodies();
    void multipartBoundaryForms();
    void multipartMalformed();

    // --- login and sessions ---------------------------------------------------
    void loginAcceptedWithWholeState();
    void loginRefusals();
    void loginVersionCheck();
    void sessionRequiredAndExpiry();
    void sessionLifetimeAndForceLogin();

    // --- synchronisation --------------------------------------------------------
    void syncFolderFiltersByCodesync();

    // --- preservation -------------------------------------------------------------
    void uploadAndSaveValues();
    void uploadRefusals();
    void saveValuesValidation();
    void saveValuesRefusals();
    void quotaIsEnforced();
    void replacementKeepsHistory();

    // --- retrieval ------------------------------------------------------------------
    void historyExhibitorAndRestore();
    void changePassword();
    void webPagesAndInstaller();
    void malformedRequests();

    // --- persistence, hooks, data sets ---------------------------------------------------
    void stateSurvivesRestart();
    void scriptedRepliesAndFaults();
    void generatedAccount();
    void demoSeed();
};

// --- multipart parser ---------------------------------------------------------------

void TestLocalService::multipartBinaryBodies() {
    const QByteArray boundary = "XyZ--42";
    QByteArray binary;
    for (int i = 0; i < 256; ++i)
        binary.append(char(i));
    // Near-misses of the delimiter inside the content must stay content.
    binary += "\r\n--XyZ--4\r\n--\r\n----XyZ\r\n-XyZ--42\r\n\r\n--";
    const QByteArray body = "--" + boundary +
                            "\r\nContent-Disposition: form-data; name=\"xml\"\r\n"
                            "Content-Type: text/xml;charset=UTF-8\r\n\r\n<request/>\r\n--" +
                            boundary +
                            "\r\nContent-Type: application/octet-stream\r\nContent-Disposition: "
                            "form-data; name=\"C:\\Users\\m.rossi\\fattura; 2013.pdf\"\r\n\r\n" +
                            binary + "\r\n--" + boundary + "--\r\n";
    QList<MultipartPart> parts;
    QString error;
    QVERIFY2(MultipartParser::parse(body, boundary, &parts, &error), qPrintable(error));
    QCOMPARE(parts.size(), 2);
    QCOMPARE(parts.at(0).name, QStringLiteral("xml"));
    QCOMPARE(parts.at(0).body, QByteArray("<request/>"));
    QCOMPARE(parts.at(0).contentType, QByteArray("text/xml;charset=UTF-8"));
    QCOMPARE(parts.at(1).name, QStringLiteral("C:\\Users\\m.rossi\\fattura; 2013.pdf"));
    QVERIFY(!parts.at(1).hasFileName);
    QCOMPARE(parts.at(1).body, binary);

    // An empty part body and a filename parameter.
    const QByteArray empty = "--b\r\nContent-Disposition: form-data; name=\"f\"; filename=\"a.txt\""
                             "\r\n\r\n\r\n--b--";
    QVERIFY(MultipartParser::parse(empty, "b", &parts, &error));
    QCOMPARE(parts.size(), 1);
    QVERIFY(parts.at(0).body.isEmpty());
    QVERIFY(parts.at(0).hasFileName);
    QCOMPARE(parts.at(0).fileName, QStringLiteral("a.txt"));
}

void TestLocalService::multipartBoundaryForms() {
    QCOMPARE(MultipartParser::boundaryOf("multipart/form-data;boundary=abc"), QByteArray("abc"));
    QCOMPARE(MultipartParser::boundaryOf("multipart/form-data; boundary=\"a b;c\""),
             QByteArray("a b;c"));
    QCOMPARE(MultipartParser::boundaryOf("Multipart/Form-Data; charset=x; BOUNDARY=q1"),
             QByteArray("q1"));
    QVERIFY(MultipartParser::boundaryOf("text/xml; boundary=abc").isEmpty());
    QVERIFY(MultipartParser::boundaryOf("multipart/form-data").isEmpty());
    QVERIFY(MultipartParser::boundaryOf("multipart/form-data; boundary=\"abc").isEmpty());
    QVERIFY(MultipartParser::boundaryOf("multipart/form-data; boundary=").isEmpty());
}

void TestLocalService::multipartMalformed() {
    QList<MultipartPart> parts;
    QString error;
    const QByteArray part = "Content-Disposition: form-data; name=\"x\"\r\n\r\ndata";
    // No closing delimiter.
    QVERIFY(!MultipartParser::parse("--b\r\n" + part, "b", &parts, &error));
    QVERIFY(!error.isEmpty());
    // Wrong boundary.
    QVERIFY(!MultipartParser::parse("--b\r\n" + part + "\r\n--b--", "c", &parts, &error));
    // A part without a name.
    QVERIFY(!MultipartParser::parse("--b\r\nContent-Type: text/plain\r\n\r\nx\r\n--b--", "b",
                                    &parts, &error));
    // Headers never ended.
    QVERIFY(!MultipartParser::parse("--b\r\nContent-Disposition: form-data; name=\"x\"", "b",
                                    &parts, &error));
    // A preamble before the first delimiter is allowed.
    QVERIFY(
        MultipartParser::parse("preamble\r\n--b\r\n" + part + "\r\n--b--", "b", &parts, &error));
    QCOMPARE(parts.size(), 1);
    QCOMPARE(parts.at(0).body, QByteArray("data"));
}

// --- login and sessions ----------------------------------------------------------------

void TestLocalService::loginAcceptedWithWholeState() {
    ServiceFixture fixture;
    QVERIFY2(fixture.isRunning(), qPrintable(fixture.errorString()));
    QVERIFY(fixture.baseUrlString().startsWith(QStringLiteral("https://127.0.0.1:")));
    QCOMPARE(qgetenv("QUILLORA_SERVICE_URL"), fixture.baseUrlString().toUtf8());
    const TestAccount account =
        fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 4);
    fixture.createAccount(QStringLiteral("bruno"), QStringLiteral("pw2"), 2);

    Client client(fixture);
    const Answer a = client.login(QStringLiteral("anna"), QStringLiteral("pw"));
    QCOMPARE(a.error, QNetworkReply::NoError);
    QCOMPARE(a.http, 200);
    QCOMPARE(a.status(), QStringLiteral("1"));
    QVERIFY(!a.description().isEmpty());
    QCOMPARE(a.count(QStringLiteral("bucket")), 2);
    QCOMPARE(a.count(QStringLiteral("policie")), 1);
    QCOMPARE(a.count(QStringLiteral("folder")), 2);
    QCOMPARE(a.count(QStringLiteral("metadato")), 6);
    QCOMPARE(a.count(QStringLiteral("file")), 4);
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 12);
    const QDomElement bucket = a.first(QStringLiteral("bucket"));
    QCOMPARE(bucket.attribute(QStringLiteral("id")), account.profileId);
    QCOMPARE(bucket.attribute(QStringLiteral("quota")), QStringLiteral("100000000"));
    QVERIFY(bucket.attribute(QStringLiteral("used")).toLongLong() > 0);
    QCOMPARE(bucket.attribute(QStringLiteral("unit")), QStringLiteral("MB"));
    QCOMPARE(bucket.attribute(QStringLiteral("div")), QStringLiteral("1000000"));
    const QDomElement folder = a.first(QStringLiteral("folder"));
    QCOMPARE(folder.attribute(QStringLiteral("idbuckets")), account.profileId);
    QCOMPARE(folder.attribute(QStringLiteral("idpolicies")), account.policyId);
    QCOMPARE(folder.elementsByTagName(QStringLiteral("metadato")).size(), 3);
    const QDomElement field = folder.firstChildElement(QStringLiteral("metadato"));
    QCOMPARE(field.attribute(QStringLiteral("idfolder")), folder.attribute(QStringLiteral("id")));
    QCOMPARE(field.attribute(QStringLiteral("required")), QStringLiteral("1"));
    const QDomElement file = a.first(QStringLiteral("file"));
    QCOMPARE(file.attribute(QStringLiteral("hash")), account.documents.first().hash);
    QCOMPARE(file.attribute(QStringLiteral("token")), account.documents.first().token);
    QCOMPARE(file.attribute(QStringLiteral("username")), QStringLiteral("anna"));
    QCOMPARE(file.attribute(QStringLiteral("idbuckets")), account.profileId);
    QVERIFY(QRegularExpression(QStringLiteral("^\\d\\d/\\d\\d/\\d{4} \\d\\d:\\d\\d:\\d\\d$"))
                .match(file.attribute(QStringLiteral("tsconserve")))
                .hasMatch());
    // Nothing of the other user.
    QVERIFY(!a.raw.contains("bruno"));

    // The session cookie.
    const QList<QNetworkCookie> cookies =
        client.manager().cookieJar()->cookiesForUrl(fixture.restUrl());
    QCOMPARE(cookies.size(), 1);
    QVERIFY(cookies.first().isSecure());
    const LocalService::RecordedRequest &logged = fixture.service().requests().last();
    QCOMPARE(logged.action, QStringLiteral("login"));
    QCOMPARE(logged.element(QStringLiteral("forceLogin")), QStringLiteral("1"));
    QCOMPARE(logged.httpStatus, 200);
    QCOMPARE(logged.statusNumber, QStringLiteral("1"));

    // codesync: only documents stamped later come back.
    const QString stamp = account.documents.at(1).tsupdate > 0
                              ? QString::number(account.documents.at(1).tsupdate, 'f', 3)
                              : QString();
    const Answer later = client.login(QStringLiteral("anna"), QStringLiteral("pw"), stamp);
    QCOMPARE(later.status(), QStringLiteral("1"));
    QCOMPARE(later.count(QStringLiteral("file")), 2);
    QCOMPARE(later.count(QStringLiteral("metadatoValue")), 6);
    QCOMPARE(later.count(QStringLiteral("folder")), 2);
}

void TestLocalService::loginRefusals() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 0);
    Client client(fixture);
    for (const auto &[user, password] :
         QList<QPair<QString, QString>>{{QStringLiteral("anna"), QStringLiteral("PW")},
                                        {QStringLiteral("nessuno"), QStringLiteral("pw")},
                                        {QString(), QString()},
                                        {QStringLiteral("anna"), QString()}}) {
        const Answer a = client.login(user, password);
        QCOMPARE(a.http, 500);
        QCOMPARE(a.status(), QStringLiteral("0"));
        QVERIFY(!a.description().isEmpty());
    }
    QVERIFY(client.manager().cookieJar()->cookiesForUrl(fixture.restUrl()).isEmpty());
    QCOMPARE(fixture.service().activeSessionCount(), 0);

    // Missing elements and bad values are malformed requests.
    Answer a = client.action(QStringLiteral("login"),
                             QStringLiteral("<username>anna</username><password>pw</password>"));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("2"));
    QVERIFY(a.description().contains(QStringLiteral("codesync")));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("ieri"));
    QCOMPARE(a.status(), QStringLiteral("2"));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                     QStringLiteral("uno.due"));
    QCOMPARE(a.status(), QStringLiteral("2"));
    // A password with "&" arrives unescaped: not XML, refused cleanly.
    a = client.login(QStringLiteral("anna"), QStringLiteral("p&w"));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("2"));
}

void TestLocalService::loginVersionCheck() {
    LocalService::Options options;
    options.minimumClientVersion = QVersionNumber(1, 3, 0);
    ServiceFixture fixture(options);
    QVERIFY(fixture.isRunning());
    fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 0);
    Client client(fixture);
    Answer a = client.login(QStringLiteral("anna"), QStringLiteral("pw"));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("31"));
    QVERIFY(a.description().contains(QStringLiteral("1.3.0")));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                     QStringLiteral("1.3.0"));
    QCOMPARE(a.status(), QStringLiteral("1"));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                     QStringLiteral("1.10"));
    QCOMPARE(a.status(), QStringLiteral("1"));

    // Forced once, whatever the version.
    fixture.service().forceUpdateRequiredOnNextLogin(QStringLiteral("Aggiornare subito"));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                     QStringLiteral("2.0.0"));
    QCOMPARE(a.status(), QStringLiteral("31"));
    QCOMPARE(a.description(), QStringLiteral("Aggiornare subito"));
    a = client.login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                     QStringLiteral("2.0.0"));
    QCOMPARE(a.status(), QStringLiteral("1"));
}

void TestLocalService::sessionRequiredAndExpiry() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 1);
    Client client(fixture);
    const QString sync = QStringLiteral("<codesync>0.0</codesync>");
    Answer a = client.action(QStringLiteral("syncfolder"), sync);
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("19"));
    QVERIFY(!a.description().isEmpty());
    // Every action but login needs the session.
    for (const QString &action : {QStringLiteral("history"), QStringLiteral("ripristina"),
                                  QStringLiteral("changePWD"), QStringLiteral("inesistente")})
        QCOMPARE(client.action(action).status(), QStringLiteral("19"));

    QCOMPARE(client.login(QStringLiteral("anna"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));
    a = client.action(QStringLiteral("syncfolder"), sync);
    QCOMPARE(a.http, 200);
    QCOMPARE(a.status(), QStringLiteral("5"));
    QVERIFY(!fixture.service().requests().last().sessionCookie.isEmpty());

    fixture.service().expireSessionsNow();
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("19"));
    QCOMPARE(client.login(QStringLiteral("anna"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));

    // Every third request with a session finds it expired.
    fixture.service().expireEveryNthRequest(3);
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("19"));
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("19"));
    QCOMPARE(client.login(QStringLiteral("anna"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));
    fixture.service().expireEveryNthRequest(0);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));

    // A forged cookie is no session.
    client.manager().cookieJar()->setCookiesFromUrl(
        {QNetworkCookie("QLSESSIONID", "0123456789abcdef")}, fixture.restUrl());
    QCOMPARE(client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("19"));
}

void TestLocalService::sessionLifetimeAndForceLogin() {
    LocalService::Options options;
    options.sessionLifetimeSeconds = 1;
    ServiceFixture fixture(options);
    QVERIFY(fixture.isRunning());
    fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 0);
    Client first(fixture);
    Client second(fixture);
    QCOMPARE(first.login(QStringLiteral("anna"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));
    QElapsedTimer clock;
    clock.start();
    QCOMPARE(second
                 .login(QStringLiteral("anna"), QStringLiteral("pw"), QStringLiteral("0.0"),
                        kVersion, false)
                 .status(),
             QStringLiteral("1"));
    QCOMPARE(fixture.service().activeSessionCount(), 2);
    // forceLogin ends the user's other sessions.
    QCOMPARE(second.login(QStringLiteral("anna"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));
    QCOMPARE(fixture.service().activeSessionCount(), 1);
    QCOMPARE(first.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"))
                 .status(),
             QStringLiteral("19"));
    // An unused session lapses after its lifetime.
    QTRY_COMPARE_WITH_TIMEOUT(fixture.service().activeSessionCount(), 0, 20000);
    QVERIFY(clock.elapsed() >= 900);
    QCOMPARE(second.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"))
                 .status(),
             QStringLiteral("19"));
}

// --- synchronisation ------------------------------------------------------------------

void TestLocalService::syncFolderFiltersByCodesync() {
    AnnaSignedIn anna(5);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    Answer a = anna.client.action(QStringLiteral("syncfolder"),
                                  QStringLiteral("<codesync>0.0</codesync>"));
    QCOMPARE(a.status(), QStringLiteral("5"));
    QCOMPARE(a.count(QStringLiteral("file")), 5);
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 15);
    // Stamps increase, and the newest one as codesync leaves nothing new.
    double previous = 0;
    const QDomNodeList files = a.document.elementsByTagName(QStringLiteral("file"));
    for (int i = 0; i < files.size(); ++i) {
        const double stamp =
            files.item(i).toElement().attribute(QStringLiteral("tsupdate")).toDouble();
        QVERIFY(stamp > previous);
        previous = stamp;
    }
    a = anna.client.action(
        QStringLiteral("syncfolder"),
        QStringLiteral("<codesync>%1</codesync>").arg(QString::number(previous, 'f', 3)));
    QCOMPARE(a.count(QStringLiteral("file")), 0);
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 0);
    QCOMPARE(a.count(QStringLiteral("bucket")), 2);
    QCOMPARE(a.count(QStringLiteral("metadato")), 6);
    a = anna.client.action(QStringLiteral("syncfolder"), QString());
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("2"));
}

// --- preservation -----------------------------------------------------------------------

void TestLocalService::uploadAndSaveValues() {
    AnnaSignedIn anna(0);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const int classId = anna.account.classIds.first();
    QByteArray content("%PDF-1.4\r\n--boundary-like--\r\n");
    content.append(QByteArray(100000, '\x00'));
    content.append("\r\n--\r\n");
    const QString path = QStringLiteral("C:\\Users\\anna\\Fatture\\fattura 12.pdf");

    Answer a = anna.client.uploadFile(classId, path, content);
    QCOMPARE(a.http, 200);
    QVERIFY2(!a.status().isEmpty(), a.raw.constData());
    QCOMPARE(a.count(QStringLiteral("metadato")), 3);
    const QDomElement field = a.first(QStringLiteral("metadato"));
    QCOMPARE(field.attribute(QStringLiteral("idmetadato")).toInt(),
             anna.account.fieldIds.value(classId).at(0));
    QCOMPARE(field.attribute(QStringLiteral("name")), QStringLiteral("Numero"));
    QCOMPARE(field.attribute(QStringLiteral("type")), QStringLiteral("1"));
    QCOMPARE(field.attribute(QStringLiteral("required")), QStringLiteral("1"));
    QCOMPARE(field.attribute(QStringLiteral("tooltip")), QStringLiteral("Numero del documento"));
    const LocalService::RecordedRequest &logged = anna.fixture.service().requests().last();
    QCOMPARE(logged.action, QStringLiteral("uploadfile"));
    QCOMPARE(logged.parts.size(), 2);
    QCOMPARE(logged.parts.at(1).name, path);
    QCOMPARE(logged.parts.at(1).body, content);

    const QString hash = sha1(content);
    const qint64 usedBefore =
        anna.client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"))
            .first(QStringLiteral("bucket"))
            .attribute(QStringLiteral("used"))
            .toLongLong();
    a = anna.client.saveValues(classId, hash, goodValues(anna.account, classId));
    QCOMPARE(a.http, 200);
    const QString token = a.first(QStringLiteral("token")).text();
    QVERIFY(!token.isEmpty());
    QVERIFY(QDateTime::fromString(a.first(QStringLiteral("tsconserve")).text(),
                                  QStringLiteral("dd/MM/yyyy hh:mm:ss"))
                .isValid());

    a = anna.client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"));
    QCOMPARE(a.first(QStringLiteral("bucket")).attribute(QStringLiteral("used")).toLongLong(),
             usedBefore + content.size());
    const QDomElement file = a.first(QStringLiteral("file"));
    QCOMPARE(file.attribute(QStringLiteral("hash")), hash);
    QCOMPARE(file.attribute(QStringLiteral("hash4k")), sha1(content.left(4096)));
    QCOMPARE(file.attribute(QStringLiteral("filename")), path);
    QCOMPARE(file.attribute(QStringLiteral("token")), token);
    QCOMPARE(file.attribute(QStringLiteral("last_modified")),
             QStringLiteral("2013-03-05T10:20:30"));
    QCOMPARE(file.attribute(QStringLiteral("computer_name")), QStringLiteral("PC-TEST"));
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 3);

    // A second document gets another token and a later stamp; sending the
    // values again without a new upload is refused.
    const QByteArray other("secondo documento");
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\b.txt"), other).http, 200);
    const Answer second =
        anna.client.saveValues(classId, sha1(other), goodValues(anna.account, classId));
    QCOMPARE(second.http, 200);
    QVERIFY(second.first(QStringLiteral("token")).text() != token);
    QVERIFY(second.first(QStringLiteral("tsupdate")).text().toDouble() >
            file.attribute(QStringLiteral("tsupdate")).toDouble());
    a = anna.client.saveValues(classId, sha1(other), goodValues(anna.account, classId));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("15"));
    // The same bytes again in the same class are refused; in the other class they are fine.
    a = anna.client.uploadFile(classId, QStringLiteral("C:\\copia.txt"), other);
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("17"));
    QCOMPARE(
        anna.client.uploadFile(anna.account.classIds.at(1), QStringLiteral("C:\\copia.txt"), other)
            .http,
        200);
    // An empty file is a file too.
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\vuoto.txt"), QByteArray()).http,
             200);
    QCOMPARE(
        anna.client.saveValues(classId, sha1(QByteArray()), goodValues(anna.account, classId)).http,
        200);
}

void TestLocalService::uploadRefusals() {
    AnnaSignedIn anna(1);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const TestAccount other =
        anna.fixture.createAccount(QStringLiteral("bruno"), QStringLiteral("pw"), 1);
    const int classId = anna.account.classIds.first();
    const QByteArray content("contenuto");

    Answer a = anna.client.uploadFile(classId, QStringLiteral("C:\\a.txt"), content, QString(),
                                      sha1("altro contenuto"));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("12"));
    a = anna.client.uploadFile(9999, QStringLiteral("C:\\a.txt"), content);
    QCOMPARE(a.status(), QStringLiteral("4"));
    a = anna.client.uploadFile(0, QStringLiteral("C:\\a.txt"), content);
    QCOMPARE(a.status(), QStringLiteral("4"));
    a = anna.client.uploadFile(other.classIds.first(), QStringLiteral("C:\\a.txt"), content);
    QCOMPARE(a.status(), QStringLiteral("4"));
    a = anna.client.uploadFile(classId, QStringLiteral("C:\\a.txt"), content,
                               sha1("mai conservato"));
    QCOMPARE(a.status(), QStringLiteral("11"));
    // The other user's document cannot be replaced either.
    a = anna.client.uploadFile(classId, QStringLiteral("C:\\a.txt"), content,
                               other.documents.first().hash);
    QCOMPARE(a.status(), QStringLiteral("11"));
    // Without the file, or as plain XML.
    a = anna.client.action(
        QStringLiteral("uploadfile"),
        QStringLiteral("<idfolder>%1</idfolder><last_modified>05/03/2013 10:20:30"
                       "</last_modified><hashfile>%2</hashfile>")
            .arg(classId)
            .arg(sha1(content)));
    QCOMPARE(a.status(), QStringLiteral("2"));
    a = anna.client.upload(envelope(QStringLiteral("uploadfile"),
                                    QStringLiteral("<idfolder>%1</idfolder><last_modified>ieri"
                                                   "</last_modified><hashfile>%2</hashfile>")
                                        .arg(classId)
                                        .arg(sha1(content))),
                           QStringLiteral("C:\\a.txt"), content);
    QCOMPARE(a.status(), QStringLiteral("2"));
    a = anna.client.upload(
        envelope(QStringLiteral("uploadfile"),
                 QStringLiteral("<idfolder>%1</idfolder><last_modified>05/03/2013 "
                                "10:20:30</last_modified>")
                     .arg(classId)),
        QStringLiteral("C:\\a.txt"), content);
    QCOMPARE(a.status(), QStringLiteral("2"));
    QVERIFY(a.description().contains(QStringLiteral("hashfile")));
    QVERIFY(anna.fixture.store()
                .pendingUpload(QStringLiteral("anna"), classId, sha1(content))
                .classId == 0);
}

void TestLocalService::saveValuesValidation() {
    AnnaSignedIn anna(0);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const int classId = anna.account.classIds.first();
    const QList<int> f = anna.account.fieldIds.value(classId);
    const QByteArray content("da validare");
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\v.txt"), content).http, 200);

    Answer a = anna.client.saveValues(classId, sha1(content),
                                      {{f.at(0), QStringLiteral("  ")},
                                       {f.at(1), QStringLiteral("dodici")},
                                       {f.at(2), QStringLiteral("31/02/2013")},
                                       {4242, QStringLiteral("x")}});
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("20"));
    const QDomElement validation = a.first(QStringLiteral("validation"));
    QVERIFY(!validation.isNull());
    QMap<QString, QString> messages;
    const QDomNodeList fields = validation.elementsByTagName(QStringLiteral("field"));
    for (int i = 0; i < fields.size(); ++i)
        messages.insert(fields.item(i).toElement().attribute(QStringLiteral("key")),
                        fields.item(i).toElement().attribute(QStringLiteral("message")));
    QCOMPARE(messages.size(), 4);
    QVERIFY(messages.value(QString::number(f.at(0))).contains(QStringLiteral("obbligatorio")));
    QVERIFY(messages.value(QString::number(f.at(1))).contains(QStringLiteral("numero")));
    QVERIFY(messages.value(QString::number(f.at(2))).contains(QStringLiteral("gg/mm/aaaa")));
    QVERIFY(messages.contains(QStringLiteral("4242")));

    // A required field not sent at all; an optional one may stay empty.
    a = anna.client.saveValues(classId, sha1(content),
                               {{f.at(0), QStringLiteral("1/2013")}, {f.at(1), QString()}});
    QCOMPARE(a.status(), QStringLiteral("20"));
    QCOMPARE(a.document.elementsByTagName(QStringLiteral("field")).size(), 1);
    QCOMPARE(a.first(QStringLiteral("field")).attribute(QStringLiteral("key")),
             QString::number(f.at(2)));
    // Dates must be whole dd/MM/yyyy.
    a = anna.client.saveValues(
        classId, sha1(content),
        {{f.at(0), QStringLiteral("1/2013")}, {f.at(2), QStringLiteral("5/3/2013")}});
    QCOMPARE(a.status(), QStringLiteral("20"));
    // Nothing was preserved by the refusals; the upload still waits.
    QVERIFY(!anna.fixture.store()
                 .currentVersion(QStringLiteral("anna"), classId, sha1(content))
                 .isValid());
    a = anna.client.saveValues(classId, sha1(content),
                               {{f.at(0), QStringLiteral("1/2013")},
                                {f.at(1), QStringLiteral("-12.5")},
                                {f.at(2), QStringLiteral("29/02/2012")}});
    QCOMPARE(a.http, 200);
    QCOMPARE(
        anna.fixture.store().valuesOf(
            anna.fixture.store().currentVersion(QStringLiteral("anna"), classId, sha1(content)).id),
        (QMap<int, QString>{{f.at(0), QStringLiteral("1/2013")},
                            {f.at(1), QStringLiteral("-12.5")},
                            {f.at(2), QStringLiteral("29/02/2012")}}));
}

void TestLocalService::saveValuesRefusals() {
    AnnaSignedIn anna(1);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const int classId = anna.account.classIds.first();
    const QByteArray content("valori");
    // No upload yet.
    Answer a = anna.client.saveValues(classId, sha1(content), goodValues(anna.account, classId));
    QCOMPARE(a.status(), QStringLiteral("15"));
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\v.txt"), content).http, 200);
    // Uploaded for another class.
    a = anna.client.saveValues(anna.account.classIds.at(1), sha1(content),
                               goodValues(anna.account, classId));
    QCOMPARE(a.status(), QStringLiteral("15"));
    a = anna.client.saveValues(777, sha1(content), goodValues(anna.account, classId));
    QCOMPARE(a.status(), QStringLiteral("4"));
    // A new upload is not a replacement.
    a = anna.client.saveValues(classId, sha1(content), goodValues(anna.account, classId),
                               anna.account.documents.first().hash);
    QCOMPARE(a.status(), QStringLiteral("15"));
    a = anna.client.action(
        QStringLiteral("savevaluemetadati"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(sha1(content)).arg(classId));
    QCOMPARE(a.status(), QStringLiteral("2"));
    a = anna.client.action(
        QStringLiteral("savevaluemetadati"),
        QStringLiteral("<hash>XYZ</hash><folderid>%1</folderid><computername/>").arg(classId));
    QCOMPARE(a.status(), QStringLiteral("2"));
    a = anna.client.action(QStringLiteral("savevaluemetadati"),
                           QStringLiteral("<hash>%1</hash><folderid>%2</folderid><computername/>"
                                          "<metadato value=\"x\"/>")
                               .arg(sha1(content))
                               .arg(classId));
    QCOMPARE(a.status(), QStringLiteral("2"));
}

void TestLocalService::quotaIsEnforced() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    ServiceStore &store = fixture.store();
    QVERIFY(store.createUser(QStringLiteral("piccolo"), QStringLiteral("pw")));
    const QString profile =
        store.addProfile(QStringLiteral("piccolo"), QStringLiteral("Mini"), 100);
    const int classId = store.addClass(profile, QStringLiteral("Varie"), QStringLiteral("Varie"));
    const int field = store.addField(classId, QStringLiteral("Nota"), FieldType::Text, false);
    QVERIFY(classId && field);
    Client client(fixture);
    QCOMPARE(client.login(QStringLiteral("piccolo"), QStringLiteral("pw")).status(),
             QStringLiteral("1"));
    const QByteArray sixty(60, 'a');
    QCOMPARE(client.uploadFile(classId, QStringLiteral("C:\\1"), sixty).http, 200);
    QCOMPARE(client.saveValues(classId, sha1(sixty), {}).http, 200);
    // 60 + 41 > 100: refused at upload; 40 still fits exactly.
    const QByteArray fortyOne(41, 'b');
    Answer a = client.uploadFile(classId, QStringLiteral("C:\\2"), fortyOne);
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("13"));
    const QByteArray forty(40, 'c');
    QCOMPARE(client.uploadFile(classId, QStringLiteral("C:\\3"), forty).http, 200);
    // Two uploads that each fit cannot both be preserved.
    const QByteArray other(40, 'd');
    QCOMPARE(client.uploadFile(classId, QStringLiteral("C:\\4"), other).http, 200);
    QCOMPARE(client.saveValues(classId, sha1(forty), {}).http, 200);
    a = client.saveValues(classId, sha1(other), {});
    QCOMPARE(a.status(), QStringLiteral("13"));
    a = client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"));
    QCOMPARE(a.first(QStringLiteral("bucket")).attribute(QStringLiteral("used")),
             QStringLiteral("100"));
}

void TestLocalService::replacementKeepsHistory() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    const TestAccount account =
        fixture.createAccount(QStringLiteral("anna"), QStringLiteral("pw"), 1);
    const PreservedVersion original = account.documents.first();
    Client client(fixture);
    const Answer login = client.login(QStringLiteral("anna"), QStringLiteral("pw"));
    const QString stampAfterLogin =
        login.first(QStringLiteral("file")).attribute(QStringLiteral("tsupdate"));
    const QByteArray corrected("versione corretta");

    Answer a = client.uploadFile(original.classId, QStringLiteral("C:\\nuovo.pdf"), corrected,
                                 original.hash);
    QCOMPARE(a.http, 200);
    // Fields start from the replaced document's values.
    QCOMPARE(a.first(QStringLiteral("metadato")).text(), QStringLiteral("1/2013"));
    // The new mode's action cannot finish a replacement.
    a = client.saveValues(original.classId, sha1(corrected), goodValues(account, original.classId));
    QCOMPARE(a.status(), QStringLiteral("15"));
    a = client.saveValues(original.classId, sha1(corrected), goodValues(account, original.classId),
                          original.hash);
    QCOMPARE(a.http, 200);
    const QString newToken = a.first(QStringLiteral("token")).text();

    // The document lists only its current version; the old one is history.
    a = client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"));
    QCOMPARE(a.count(QStringLiteral("file")), 1);
    QCOMPARE(a.first(QStringLiteral("file")).attribute(QStringLiteral("hash")), sha1(corrected));
    a = client.action(QStringLiteral("syncfolder"),
                      QStringLiteral("<codesync>%1</codesync>").arg(stampAfterLogin));
    QCOMPARE(a.count(QStringLiteral("file")), 1);
    for (const QString &hash : {original.hash, sha1(corrected)}) {
        a = client.action(QStringLiteral("history"),
                          QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                              .arg(hash)
                              .arg(original.classId));
        QCOMPARE(a.http, 200);
        QCOMPARE(a.status(), QStringLiteral("29"));
        QCOMPARE(a.count(QStringLiteral("file")), 2);
        const QDomNodeList files = a.document.elementsByTagName(QStringLiteral("file"));
        QCOMPARE(files.item(0).toElement().attribute(QStringLiteral("token")), original.token);
        QCOMPARE(files.item(1).toElement().attribute(QStringLiteral("token")), newToken);
        QCOMPARE(files.item(1).toElement().attribute(QStringLiteral("filename")),
                 QStringLiteral("C:\\nuovo.pdf"));
        QCOMPARE(files.item(1).toElement().attribute(QStringLiteral("filesize")),
                 QString::number(corrected.size()));
        QCOMPARE(files.item(0).toElement().attribute(QStringLiteral("idfolders")),
                 QString::number(original.classId));
    }
    // The replaced version cannot be replaced again; the new one can, even by identical bytes.
    a = client.uploadFile(original.classId, QStringLiteral("C:\\x"), QByteArray("terza"),
                          original.hash);
    QCOMPARE(a.status(), QStringLiteral("11"));
    QCOMPARE(client
                 .uploadFile(original.classId, QStringLiteral("C:\\nuovo.pdf"), corrected,
                             sha1(corrected))
                 .http,
             200);
    a = client.saveValues(original.classId, sha1(corrected), goodValues(account, original.classId),
                          sha1(corrected));
    QCOMPARE(a.http, 200);
    a = client.action(QStringLiteral("history"),
                      QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                          .arg(original.hash)
                          .arg(original.classId));
    QCOMPARE(a.count(QStringLiteral("file")), 3);
}

// --- retrieval ---------------------------------------------------------------------------

void TestLocalService::historyExhibitorAndRestore() {
    AnnaSignedIn anna(2);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const TestAccount other =
        anna.fixture.createAccount(QStringLiteral("bruno"), QStringLiteral("pw"), 1);
    const PreservedVersion doc = anna.account.documents.first();

    Answer a = anna.client.action(
        QStringLiteral("history"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(doc.hash).arg(doc.classId));
    QCOMPARE(a.status(), QStringLiteral("29"));
    QCOMPARE(a.count(QStringLiteral("file")), 1);
    QCOMPARE(a.first(QStringLiteral("file")).attribute(QStringLiteral("tsfiles")), doc.tsconserve);
    a = anna.client.action(QStringLiteral("history"),
                           QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                               .arg(doc.hash)
                               .arg(anna.account.classIds.at(1)));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("11"));
    a = anna.client.action(QStringLiteral("history"),
                           QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                               .arg(other.documents.first().hash)
                               .arg(other.documents.first().classId));
    QCOMPARE(a.status(), QStringLiteral("4"));

    a = anna.client.action(QStringLiteral("getexhibitorconfig"),
                           QStringLiteral("<token>%1</token>").arg(doc.token));
    QCOMPARE(a.http, 200);
    QCOMPARE(a.status(), QStringLiteral("40"));
    const QString code = a.first(QStringLiteral("exhibitor"))
                             .firstChildElement(QStringLiteral("unique_code"))
                             .attribute(QStringLiteral("value"));
    QVERIFY(!code.isEmpty());
    Answer page = anna.client.get(QStringLiteral("/vazedo/Exhibitor?unique_code=") + code);
    QCOMPARE(page.http, 200);
    QVERIFY(page.raw.contains(doc.token.toUtf8()));
    page = anna.client.get(QStringLiteral("/vazedo/Exhibitor?unique_code=nonesiste"));
    QCOMPARE(page.http, 404);
    for (const QString &token : {other.documents.first().token, QStringLiteral("QLFALSO")}) {
        a = anna.client.action(QStringLiteral("getexhibitorconfig"),
                               QStringLiteral("<token>%1</token>").arg(token));
        QCOMPARE(a.http, 500);
        QCOMPARE(a.status(), QStringLiteral("11"));
    }

    a = anna.client.action(
        QStringLiteral("ripristina"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(doc.hash).arg(doc.classId));
    QCOMPARE(a.http, 200);
    QCOMPARE(sha1(a.raw), doc.hash);
    a = anna.client.action(
        QStringLiteral("ripristina"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(sha1("x")).arg(doc.classId));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("11"));
    a = anna.client.action(QStringLiteral("ripristina"),
                           QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                               .arg(other.documents.first().hash)
                               .arg(other.documents.first().classId));
    QCOMPARE(a.http, 500);
    QVERIFY(!a.status().isEmpty());
    // Damaged stored bytes are never handed out as the document.
    QFile stored(QDir(anna.fixture.dataDir())
                     .filePath(QStringLiteral("contents/%1/%2").arg(doc.hash.left(2), doc.hash)));
    QVERIFY(stored.open(QIODevice::Append));
    stored.write("x");
    stored.close();
    a = anna.client.action(
        QStringLiteral("ripristina"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(doc.hash).arg(doc.classId));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("16"));
}

void TestLocalService::changePassword() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    fixture.createAccount(QStringLiteral("anna"), QStringLiteral("vecchia"), 0);
    Client client(fixture);
    QCOMPARE(client.login(QStringLiteral("anna"), QStringLiteral("vecchia")).status(),
             QStringLiteral("1"));
    auto change = [&client](const QString &newPwd, const QString &confirm, const QString &old) {
        return client.action(
            QStringLiteral("changePWD"),
            QStringLiteral("<newpwd>%1</newpwd><confirmpwd>%2</confirmpwd><oldpwd>%3</oldpwd>")
                .arg(newPwd, confirm, old));
    };
    for (const auto &attempt : QList<QStringList>{
             {QStringLiteral("nuova"), QStringLiteral("nuova"), QStringLiteral("sbagliata")},
             {QString(), QString(), QStringLiteral("vecchia")},
             {QStringLiteral("nuova"), QStringLiteral("Nuova"), QStringLiteral("vecchia")}}) {
        const Answer a = change(attempt.at(0), attempt.at(1), attempt.at(2));
        QCOMPARE(a.http, 500);
        QCOMPARE(a.status(), QStringLiteral("37"));
        QVERIFY(!a.description().isEmpty());
    }
    QCOMPARE(
        client.action(QStringLiteral("changePWD"), QStringLiteral("<newpwd>a</newpwd>")).status(),
        QStringLiteral("2"));
    const Answer a =
        change(QStringLiteral("nuova"), QStringLiteral("nuova"), QStringLiteral("vecchia"));
    QCOMPARE(a.http, 200);
    QCOMPARE(a.status(), QStringLiteral("38"));
    Client other(fixture);
    QCOMPARE(other.login(QStringLiteral("anna"), QStringLiteral("vecchia")).status(),
             QStringLiteral("0"));
    QCOMPARE(other.login(QStringLiteral("anna"), QStringLiteral("nuova")).status(),
             QStringLiteral("1"));
}

void TestLocalService::webPagesAndInstaller() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    Client client(fixture);
    Answer a = client.get(QStringLiteral("/vazedo/UpdateService?platform=win"));
    QCOMPARE(a.http, 200);
    QCOMPARE(a.raw, LocalService::installerFor(QStringLiteral("win")));
    QVERIFY(a.raw.startsWith("MZ"));
    a = client.get(QStringLiteral("/vazedo/UpdateService?platform=linux"));
    QCOMPARE(a.http, 200);
    QVERIFY(a.raw.startsWith("#!/bin/sh"));
    QCOMPARE(client.get(QStringLiteral("/vazedo/UpdateService")).http, 400);
    for (const QString &path :
         {QStringLiteral("/vazedo/Help/"), QStringLiteral("/vazedo/BuyQuota/"),
          QStringLiteral("/vazedo/PasswordRecovery/"), QStringLiteral("/vazedo/Survey/")}) {
        a = client.get(path);
        QCOMPARE(a.http, 200);
        QVERIFY(a.raw.contains("<html"));
        QCOMPARE(fixture.service().requests().last().action, path);
    }
    QCOMPARE(client.get(QStringLiteral("/vazedo/Altro/")).http, 404);
    QCOMPARE(client.get(QStringLiteral("/vazedo/RestService")).http, 405);
}

void TestLocalService::malformedRequests() {
    AnnaSignedIn anna(0);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const QList<QByteArray> bodies = {
        QByteArray(),
        "non xml",
        "<?xml version=\"1.0\"?><request><action>syncfolder</action>",
        "<?xml version=\"1.0\"?><richiesta><action>syncfolder</action></richiesta>",
        "<?xml version=\"1.0\"?><request><codesync>0</codesync></request>",
        QByteArray("<request><action>login</action>\xff\xfe</request>")};
    for (const QByteArray &body : bodies) {
        const Answer a = anna.client.post(body);
        QCOMPARE(a.http, 500);
        QCOMPARE(a.status(), QStringLiteral("2"));
        QVERIFY(!a.description().isEmpty());
    }
    Answer a = anna.client.action(QStringLiteral("cancellatutto"));
    QCOMPARE(a.http, 500);
    QCOMPARE(a.status(), QStringLiteral("3"));

    // Multipart without the xml part, with three parts, or cut short.
    QNetworkRequest request(anna.fixture.restUrl());
    request.setHeader(QNetworkRequest::ContentTypeHeader,
                      QByteArrayLiteral("multipart/form-data; boundary=zz"));
    const QList<QByteArray> multiparts = {
        "--zz\r\nContent-Disposition: form-data; name=\"C:\\a\"\r\n\r\nabc\r\n--zz--\r\n",
        "--zz\r\nContent-Disposition: form-data; name=\"xml\"\r\n\r\n<request><action>uploadfile"
        "</action></request>\r\n--zz\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n"
        "--zz\r\nContent-Disposition: form-data; name=\"b\"\r\n\r\n2\r\n--zz--\r\n",
        "--zz\r\nContent-Disposition: form-data; name=\"xml\"\r\n\r\n<request>"};
    for (const QByteArray &body : multiparts) {
        a = anna.client.wait(anna.client.manager().post(request, body));
        QCOMPARE(a.http, 500);
        QCOMPARE(a.status(), QStringLiteral("2"));
    }
    request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArrayLiteral("multipart/form-data"));
    a = anna.client.wait(anna.client.manager().post(request, multiparts.first()));
    QCOMPARE(a.status(), QStringLiteral("2"));
    // Still serving afterwards.
    QCOMPARE(
        anna.client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"))
            .status(),
        QStringLiteral("5"));
}

// --- persistence, hooks, data sets ---------------------------------------------------------------

void TestLocalService::stateSurvivesRestart() {
    AnnaSignedIn anna(2);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    const int classId = anna.account.classIds.first();
    const QByteArray content("conservato prima del riavvio");
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\r.txt"), content).http, 200);
    const QString token =
        anna.client.saveValues(classId, sha1(content), goodValues(anna.account, classId))
            .first(QStringLiteral("token"))
            .text();
    const QByteArray pending("caricato ma non ancora conservato");
    QCOMPARE(anna.client.uploadFile(classId, QStringLiteral("C:\\p.txt"), pending).http, 200);
    const quint16 port = anna.fixture.service().port();

    QVERIFY2(anna.fixture.restart(), qPrintable(anna.fixture.errorString()));
    QCOMPARE(anna.fixture.service().port(), port);
    // Sessions do not survive; everything else does.
    QCOMPARE(
        anna.client.action(QStringLiteral("syncfolder"), QStringLiteral("<codesync>0</codesync>"))
            .status(),
        QStringLiteral("19"));
    const Answer a = anna.client.login(QStringLiteral("anna"), QStringLiteral("pw"));
    QCOMPARE(a.status(), QStringLiteral("1"));
    QCOMPARE(a.count(QStringLiteral("file")), 3);
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 9);
    QVERIFY(a.raw.contains(token.toUtf8()));
    const Answer restored = anna.client.action(
        QStringLiteral("ripristina"),
        QStringLiteral("<hash>%1</hash><folderid>%2</folderid>").arg(sha1(content)).arg(classId));
    QCOMPARE(restored.raw, content);
    QCOMPARE(anna.client.saveValues(classId, sha1(pending), goodValues(anna.account, classId)).http,
             200);
    // Stamps keep increasing over the restart.
    QVERIFY(anna.fixture.store()
                .currentVersion(QStringLiteral("anna"), classId, sha1(pending))
                .tsupdate > anna.fixture.store()
                                .currentVersion(QStringLiteral("anna"), classId, sha1(content))
                                .tsupdate);
}

void TestLocalService::scriptedRepliesAndFaults() {
    AnnaSignedIn anna(1);
    QVERIFY(anna.fixture.isRunning());
    QCOMPARE(anna.loginStatus, QStringLiteral("1"));
    LocalService &service = anna.fixture.service();
    const QString sync = QStringLiteral("<codesync>0</codesync>");

    // Scripted replies, consumed in order and by action.
    service.scriptReply(403, "<html>vietato</html>", QString(), "text/html");
    service.scriptReply(200, "questo non è XML", QStringLiteral("syncfolder"));
    Answer a = anna.client.action(QStringLiteral("history"));
    QCOMPARE(a.http, 403);
    QCOMPARE(a.raw, QByteArray("<html>vietato</html>"));
    QCOMPARE(service.requests().last().httpStatus, 403);
    QCOMPARE(anna.client.action(QStringLiteral("history")).status(),
             QStringLiteral("2")); // normal again
    a = anna.client.action(QStringLiteral("syncfolder"), sync);
    QCOMPARE(a.http, 200);
    QCOMPARE(a.raw, QByteArray("questo non è XML"));
    QCOMPARE(anna.client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));

    // A delayed reply is pending while the event loop runs.
    service.delayReply(300, QStringLiteral("syncfolder"));
    QNetworkReply *reply = anna.client.send(envelope(QStringLiteral("syncfolder"), sync));
    const int before = service.requests().size();
    QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), before + 1, 30000);
    QCOMPARE(service.requests().last().httpStatus, 0);
    QVERIFY(!reply->isFinished());
    QSignalSpy handled(&service, &LocalService::requestHandled);
    a = anna.client.wait(reply);
    QCOMPARE(a.status(), QStringLiteral("5"));
    QCOMPARE(handled.size(), 1);
    QCOMPARE(service.requests().last().httpStatus, 200);

    // A client that gives up during a delay does not upset the service.
    service.delayReply(200);
    reply = anna.client.send(envelope(QStringLiteral("syncfolder"), sync));
    QTRY_COMPARE_WITH_TIMEOUT(service.requests().size(), before + 2, 30000);
    reply->abort();
    reply->deleteLater();
    QTRY_COMPARE_WITH_TIMEOUT(handled.size(), 1, 30000);
    QTest::qWait(400); // let the held reply's moment pass with the socket gone
    QCOMPARE(anna.client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));

    // Dropped connections.
    service.injectFault(LocalService::Fault::CloseMidReply, QStringLiteral("syncfolder"));
    a = anna.client.action(QStringLiteral("syncfolder"), sync);
    QVERIFY(a.error != QNetworkReply::NoError);
    QCOMPARE(service.requests().last().httpStatus, 0);
    // The client library resends a request dropped before any byte; a fault
    // that outlasts its resends reaches the client.
    const int logged = service.requests().size();
    service.injectFault(LocalService::Fault::CloseBeforeReply, QStringLiteral("syncfolder"));
    QCOMPARE(anna.client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));
    QVERIFY(service.requests().size() >= logged + 2);
    QCOMPARE(service.requests().at(logged).httpStatus, 0);
    service.injectFault(LocalService::Fault::CloseBeforeReply, QStringLiteral("syncfolder"), 3);
    a = anna.client.action(QStringLiteral("syncfolder"), sync);
    QVERIFY(a.error != QNetworkReply::NoError);
    QCOMPARE(a.http, 0);
    service.clearScript();
    QCOMPARE(anna.client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));

    // clearScript forgets what was not used; clearRequests empties the log.
    service.scriptReply(500, "x", QStringLiteral("syncfolder"));
    service.clearScript();
    QCOMPARE(anna.client.action(QStringLiteral("syncfolder"), sync).status(), QStringLiteral("5"));
    service.clearRequests();
    QVERIFY(service.requests().isEmpty());
    anna.client.action(QStringLiteral("syncfolder"), sync);
    QCOMPARE(service.requests(QStringLiteral("syncfolder")).size(), 1);
    QCOMPARE(service.requests().first().header("CONTENT-TYPE"),
             QByteArray("text/xml;charset=UTF-8"));
}

void TestLocalService::generatedAccount() {
    ServiceFixture fixture;
    QVERIFY(fixture.isRunning());
    GeneratorPlan plan;
    QString error;
    QVERIFY(!GeneratorPlan::fromString(QStringLiteral("a:b:1:2:3"), &plan, &error));
    QVERIFY(!GeneratorPlan::fromString(QStringLiteral("a:b:x:2:3:4"), &plan, &error));
    QVERIFY(GeneratorPlan::fromString(QStringLiteral("grande:pw:300:4:3:5"), &plan, &error));
    QCOMPARE(plan.documents, 300);
    QCOMPARE(plan.fieldsPerClass, 5);
    GeneratorPlan tooMany = plan;
    tooMany.user = QStringLiteral("altro");
    tooMany.valuesPerDocument = 6;
    QVERIFY(!fixture.store().generate(tooMany, &error));
    QVERIFY(!fixture.store().userExists(QStringLiteral("altro")));
    QVERIFY2(fixture.store().generate(plan, &error), qPrintable(error));
    QVERIFY(!fixture.store().generate(plan, &error)); // the user exists

    Client client(fixture);
    const Answer a = client.login(QStringLiteral("grande"), QStringLiteral("pw"));
    QCOMPARE(a.status(), QStringLiteral("1"));
    QCOMPARE(a.count(QStringLiteral("folder")), 3);
    QCOMPARE(a.count(QStringLiteral("metadato")), 15);
    QCOMPARE(a.count(QStringLiteral("file")), 300);
    QCOMPARE(a.count(QStringLiteral("metadatoValue")), 1200);
    // Generated documents are real ones: restorable, with distinct tokens.
    const QDomElement file = a.first(QStringLiteral("file"));
    const Answer restored = client.action(QStringLiteral("ripristina"),
                                          QStringLiteral("<hash>%1</hash><folderid>%2</folderid>")
                                              .arg(file.attribute(QStringLiteral("hash")),
                                                   file.attribute(QStringLiteral("idfolder"))));
    QCOMPARE(sha1(restored.raw), file.attribute(QStringLiteral("hash")));
    QSet<QString> tokens;
    const QDomNodeList files = a.document.elementsByTagName(QStringLiteral("file"));
    for (int i = 0; i < files.size(); ++i)
        tokens.insert(files.item(i).toElement().attribute(QStringLiteral("token")));
    QCOMPARE(tokens.size(), 300);
}

void TestLocalService::demoSeed() {
    QTemporaryDir dir;
    ServiceStore store;
    QString error;
    QVERIFY(store.open(dir.path(), &error));
    QVERIFY(store.wasCreated());
    QVERIFY2(DemoSeed::seed(store, &error), qPrintable(error));
    QVERIFY(store.checkPassword(DemoSeed::userName(), DemoSeed::password()));
    QVERIFY(store.checkPassword(DemoSeed::otherUserName(), DemoSeed::otherPassword()));

    QSqlQuery q(store.database());
    QVERIFY(q.exec(QStringLiteral(
        "SELECT DISTINCT c.groups FROM classes c JOIN profiles p ON p.id = c.profile_id"
        " WHERE p.owner = 'mario.rossi'")));
    QStringList groups;
    while (q.next())
        groups << q.value(0).toString();
    QVERIFY(groups.contains(QStringLiteral("Fatture")));
    QVERIFY(groups.contains(QStringLiteral("Fatture passive")));
    QVERIFY(groups.size() >= 4);
    QVERIFY(q.exec(QStringLiteral(
        "SELECT count(*), sum(quota = 0) FROM profiles WHERE owner = 'mario.rossi'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 2);
    QCOMPARE(q.value(1).toInt(), 1);
    QVERIFY(
        q.exec(QStringLiteral("SELECT count(DISTINCT type), sum(required = 0), sum(required = 1),"
                              " sum(tooltip != '') FROM fields")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 3);
    QVERIFY(q.value(1).toInt() > 0 && q.value(2).toInt() > 0 && q.value(3).toInt() > 0);
    QVERIFY(q.exec(QStringLiteral("SELECT count(*), count(DISTINCT document_id) FROM versions"
                                  " WHERE owner = 'mario.rossi'")));
    QVERIFY(q.next());
    const int versions = q.value(0).toInt();
    const int documents = q.value(1).toInt();
    QVERIFY(documents >= 24 && documents <= 60);
    QVERIFY(versions > documents); // some were corrected
    QVERIFY(q.exec(QStringLiteral("SELECT count(*) FROM field_values WHERE value LIKE '%2013%'")));
    QVERIFY(q.next());
    QVERIFY(q.value(0).toInt() > 10);
    // Every value suits its field, as the service's own validation would demand.
    QVERIFY(q.exec(QStringLiteral(
        "SELECT count(*) FROM field_values fv JOIN fields f ON f.id = fv.field_id"
        " WHERE f.type = 3 AND fv.value NOT GLOB '[0-3][0-9]/[01][0-9]/[12][0-9][0-9][0-9]'")));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 0);
}

QTEST_MAIN(TestLocalService)
#include "tst_localservice.moc"
