#pragma once

#include "MultipartParser.h"
#include "ServiceStore.h"

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QUrl>
#include <QUrlQuery>
#include <QVersionNumber>

#include <memory>

class QHttpServer;
class LocalServicePrivate;

// A local stand-in for the remote preservation service.
//
// Endpoints (base URL = baseUrl()):
//   POST /vazedo/RestService    XML request document, or multipart/form-data
//                               with a part "xml" then the file part
//   GET  /vazedo/UpdateService?platform=P   installer bytes for P
//   GET  /vazedo/Exhibitor?unique_code=C, /vazedo/Help/, /vazedo/BuyQuota/,
//        /vazedo/PasswordRecovery/, /vazedo/Survey/   small HTML pages
//
// Replies of RestService: <response><statusnumber>N</statusnumber><body>
// <statusdescription>…</statusdescription>…</body></response>, HTTP 200 for
// success statuses, HTTP 500 for refusals. `ripristina` answers with the
// stored bytes (HTTP 200), streamed from disk.
//
// Status numbers (the client's own ones and those this service adds):
//   "0"  login refused (wrong user or password)          HTTP 500
//   "1"  login accepted, body = whole account state       HTTP 200
//   "2"  malformed request: not XML, no/empty action, a
//        required element missing or with a bad value     HTTP 500
//   "3"  unknown action                                   HTTP 500
//   "4"  unknown class, or a class of another user        HTTP 500
//   "5"  syncfolder                                       HTTP 200
//   "11" unknown document (hash/class/token)              HTTP 500
//   "12" uploaded bytes do not match `hashfile`           HTTP 500
//   "13" profile quota exceeded                           HTTP 500
//   "15" field values without a prior upload of that file
//        for that class                                   HTTP 500
//   "16" internal storage error                           HTTP 500
//   "17" file already preserved in that class             HTTP 500
//   "19" no valid session (missing, unknown, expired)     HTTP 500
//   "20" field validation failed, with `validation`       HTTP 500
//   "21" file received (uploadfile, sostituiscifile)      HTTP 200
//   "22" document preserved, with `token`                 HTTP 200
//   "29" history                                          HTTP 200
//   "31" client version below the minimum                 HTTP 500
//   "37" password not changed                             HTTP 500
//   "38" password changed                                 HTTP 200
//   "40" exhibition configuration                         HTTP 200
//
// Details the client may meet: a profile with quota 0 has no limit; the
// upload reply lists the class's `metadato` with, for a replacement, the
// replaced document's values as text; the values reply carries `token`,
// `hash`, `tsconserve` and `tsupdate`; `syncfolder` and `login` list only
// current versions (a replaced one is found through `history`).
//
// Sessions: `login` sets the cookie "QLSESSIONID" (Path=/vazedo); every
// other action needs it. A session lapses after `sessionLifetimeSeconds` of
// inactivity. `forceLogin` 1 ends the user's other sessions.
//
// Everything runs on the thread of this object, inside its event loop; no
// handler blocks, so a client in the same thread can talk to it.
class LocalService : public QObject {
    Q_OBJECT

public:
    struct Options {
        QString dataDir; // required: SQLite file and stored contents
        QHostAddress bindAddress = QHostAddress(QHostAddress::LocalHost);
        quint16 port = 0;                    // 0 = any free port
        QString tlsCertificateFile;          // PEM; both empty = plain HTTP
        QString tlsKeyFile;                  // PEM, unencrypted
        QVersionNumber minimumClientVersion; // null = any version accepted
        int sessionLifetimeSeconds = 1800;
    };

    // How much of each body the log keeps, and how many requests (the most
    // recent ones).
    static constexpr int kKeptBodyBytes = 64 * 1024;
    static constexpr int kKeptRequests = 2000;

    // One request as the service saw it, kept in order of arrival.
    struct RecordedRequest {
        quint64 serial = 0; // 1, 2, ... in order of arrival over the service's life
        QByteArray method;  // "GET", "POST", ...
        QString path;       // e.g. "/vazedo/RestService"
        QUrlQuery query;
        QString action;                               // the XML `action`; for GET requests the path
        QList<QPair<QByteArray, QByteArray>> headers; // as received
        QByteArray sessionCookie;                     // value of the session cookie sent, if any
        // The log keeps the head of a body only: a long session of large
        // uploads must not grow the service without bound.
        QByteArray body;         // raw body, its first kKeptBodyBytes
        qint64 bodySize = 0;     // of the whole body as received
        QList<MultipartPart> parts; // parsed parts of a multipart body, bodies cut alike
        QByteArray fileSha1;     // hex SHA-1 of a multipart body's file part
        QString xml;                                  // the XML document (body or part "xml")
        int httpStatus = 0;                           // status of the reply sent; 0 while it is
                                                      // pending and when the connection was
                                                      // dropped before a complete reply
        QString statusNumber;                         // `statusnumber` of the reply, if any

        QByteArray header(const QByteArray &name) const; // case-insensitive
        // Text of the first element `name` of the XML document.
        QString element(const QString &name) const;
    };

    // How the next matching request is answered instead of normally.
    enum class Fault {
        CloseBeforeReply, // the connection is dropped without any reply
        CloseMidReply,    // status line, headers and half the body, then drop
        AlterBody         // the whole reply, one byte of its body in the middle changed
    };

    explicit LocalService(QObject *parent = nullptr);
    ~LocalService() override;

    bool start(const Options &options, QString *error = nullptr);
    void stop();
    bool isRunning() const;
    quint16 port() const;
    // "https://127.0.0.1:PORT" (or http://…); no trailing slash.
    QUrl baseUrl() const;
    const Options &options() const;

    ServiceStore &store();

    // --- request log --------------------------------------------------------
    const QList<RecordedRequest> &requests() const;
    QList<RecordedRequest> requests(const QString &action) const;
    void clearRequests();

    // --- scripted behaviour -------------------------------------------------
    // Each of these applies once, to the next request whose action (or path,
    // for GET) equals `action`; an empty `action` matches any request. They
    // are consumed in the order they were added.

    // Answer with exactly `httpStatus` and `body` (anything: XML, garbage,
    // an HTTP 403 page...) without running the action.
    void scriptReply(int httpStatus, const QByteArray &body, const QString &action = QString(),
                     const QByteArray &contentType = QByteArrayLiteral("text/xml;charset=UTF-8"));
    // Run the action normally but hold its reply back for `milliseconds`.
    void delayReply(int milliseconds, const QString &action = QString());
    // Drop the connection before or in the middle of the reply (or alter
    // it), for the next `count` matching requests. The action is still run (a dropped reply
    // may have changed state, as on a real service). Mind that
    // QNetworkAccessManager silently resends, on a new connection, a request
    // whose connection closed before any reply byte: a single
    // CloseBeforeReply is then invisible to the client. CloseMidReply always
    // reaches it as an error; for CloseBeforeReply use count 3 and
    // clearScript() afterwards.
    void injectFault(Fault fault, const QString &action = QString(), int count = 1);
    // Forget scripted replies, delays and faults not yet used.
    void clearScript();

    // --- sessions -----------------------------------------------------------
    // Every session ends now; the next action without a new login gets "19".
    void expireSessionsNow();
    // Every n-th request carrying a session (logins excluded) finds it
    // expired and gets "19"; 0 switches it off. Counting restarts on change.
    void expireEveryNthRequest(int n);
    int activeSessionCount() const;

    // --- logins -------------------------------------------------------------
    // The next login gets "31" with `description` (a default text when
    // empty), whatever its version.
    void forceUpdateRequiredOnNextLogin(const QString &description = QString());

    // The installer payload served for `platform`.
    static QByteArray installerFor(const QString &platform);

signals:
    // After every reply (or dropped connection) with the final record.
    void requestHandled(const LocalService::RecordedRequest &request);

private:
    std::unique_ptr<LocalServicePrivate> d;
};
