#include "LocalService.h"
#include "ChunkedBody.h"
#include "FileSender.h"

#include "ServiceActions.h"
#include "ServiceStatus.h"
#include "SessionRegistry.h"
#include "WebPages.h"

#include <QCryptographicHash>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QPointer>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QSslKey>
#include <QTcpSocket>
#include <QTimer>

#include <optional>

namespace {
const QByteArray kSessionCookie = QByteArrayLiteral("QLSESSIONID");
const QString kRestPath = QStringLiteral("/vazedo/RestService");

QByteArray methodName(QHttpServerRequest::Method method) {
    switch (method) {
    case QHttpServerRequest::Method::Get:
        return "GET";
    case QHttpServerRequest::Method::Post:
        return "POST";
    case QHttpServerRequest::Method::Put:
        return "PUT";
    case QHttpServerRequest::Method::Delete:
        return "DELETE";
    case QHttpServerRequest::Method::Head:
        return "HEAD";
    case QHttpServerRequest::Method::Options:
        return "OPTIONS";
    case QHttpServerRequest::Method::Patch:
        return "PATCH";
    default:
        return "OTHER";
    }
}

QByteArray cookieValue(const QByteArray &cookieHeader, const QByteArray &name) {
    for (const QByteArray &item : cookieHeader.split(';')) {
        const int eq = item.indexOf('=');
        if (eq > 0 && item.left(eq).trimmed() == name)
            return item.mid(eq + 1).trimmed();
    }
    return QByteArray();
}

ServiceReply plainReply(int status, const QByteArray &text) {
    ServiceReply reply;
    reply.httpStatus = status;
    reply.contentType = QByteArrayLiteral("text/plain;charset=UTF-8");
    reply.body = text;
    return reply;
}

bool loadKey(const QByteArray &pem, QSslKey *key) {
    for (QSsl::KeyAlgorithm algorithm : {QSsl::Rsa, QSsl::Ec}) {
        *key = QSslKey(pem, algorithm, QSsl::Pem, QSsl::PrivateKey);
        if (!key->isNull())
            return true;
    }
    return false;
}

// What the log keeps of a handled request: the heads of its bodies, with the
// size and the file's fingerprint, which is what a test asks of an upload.
void keepHeads(LocalService::RecordedRequest &rec) {
    rec.bodySize = rec.body.size();
    if (rec.parts.size() == 2)
        rec.fileSha1 =
            QCryptographicHash::hash(rec.parts.at(1).body, QCryptographicHash::Sha1).toHex();
    rec.body.truncate(LocalService::kKeptBodyBytes);
    rec.body.squeeze();
    for (MultipartPart &part : rec.parts) {
        part.body.truncate(LocalService::kKeptBodyBytes);
        part.body.squeeze();
    }
}

} // namespace

class LocalServicePrivate {
public:
    struct Step {
        enum class Kind { Reply, Delay, Fault } kind;
        QString action;
        ServiceReply reply;
        int delayMs = 0;
        LocalService::Fault fault = LocalService::Fault::CloseBeforeReply;
    };

    explicit LocalServicePrivate(LocalService *q)
        : q(q)
        , actions(store) {}

    void handle(const QHttpServerRequest &request, QHttpServerResponder &&responder);
    std::optional<ServiceReply> parseRest(LocalService::RecordedRequest &record,
                                          QDomDocument *document);
    ServiceReply process(const LocalService::RecordedRequest &record, const QDomDocument &document);
    void send(quint64 serial, const ServiceReply &reply, const Step *fault,
              QHttpServerResponder &responder);
    LocalService::RecordedRequest *record(quint64 serial);

    LocalService *q;
    LocalService::Options options;
    ServiceStore store;
    ServiceActions actions;
    SessionRegistry sessions;
    std::unique_ptr<QHttpServer> server;
    quint16 port = 0;
    bool tls = false;
    QList<LocalService::RecordedRequest> log;
    quint64 nextSerial = 1;
    QList<Step> script;
    int expireEvery = 0;
    int sessionRequests = 0;
    bool forceUpdate = false;
    QString forceUpdateText;
};

LocalService::RecordedRequest *LocalServicePrivate::record(quint64 serial) {
    for (auto it = log.rbegin(); it != log.rend(); ++it) {
        if (it->serial == serial)
            return &*it;
    }
    return nullptr;
}

void LocalServicePrivate::handle(const QHttpServerRequest &request,
                                 QHttpServerResponder &&responder) {
    LocalService::RecordedRequest rec;
    rec.serial = nextSerial++;
    rec.method = methodName(request.method());
    rec.path = request.url().path();
    rec.query = request.query();
    rec.headers = request.headers();
    rec.body = request.body();
    rec.sessionCookie = cookieValue(rec.header("cookie"), kSessionCookie);
    rec.action = rec.path;

    QDomDocument document;
    std::optional<ServiceReply> refusal;
    if (rec.path == kRestPath)
        refusal = parseRest(rec, &document);
    else if (rec.method != "GET")
        refusal = plainReply(405, "Method Not Allowed\n");
    // The action is known now; a scripted step for it replaces or shapes the reply.
    std::optional<Step> step;
    for (int i = 0; i < script.size(); ++i) {
        if (script.at(i).action.isEmpty() || script.at(i).action == rec.action) {
            step = script.takeAt(i);
            break;
        }
    }
    ServiceReply reply;
    if (step && step->kind == Step::Kind::Reply)
        reply = step->reply;
    else if (refusal)
        reply = *refusal;
    else if (rec.path == kRestPath)
        reply = process(rec, document);
    else
        reply = WebPages::answer(store, rec.path, rec.query);
    // A reply that is delayed or cut is made whole first.
    if (step && !reply.materialise())
        reply = ServiceActions::internalError();
    if (step && step->kind == Step::Kind::Fault && step->fault == LocalService::Fault::AlterBody) {
        if (!reply.body.isEmpty())
            reply.body[reply.body.size() / 2] = char(reply.body.at(reply.body.size() / 2) ^ 0x5a);
        step.reset();
    }
    const quint64 serial = rec.serial;
    keepHeads(rec);
    log.append(std::move(rec));
    if (log.size() > LocalService::kKeptRequests)
        log.removeFirst();

    if (step && step->kind == Step::Kind::Delay) {
        auto held = std::make_shared<QHttpServerResponder>(std::move(responder));
        QPointer<QTcpSocket> socket = held->socket();
        QTimer::singleShot(step->delayMs, q, [this, serial, reply, held, socket]() {
            if (socket)
                send(serial, reply, nullptr, *held);
        });
        return;
    }
    send(serial, reply, step && step->kind == Step::Kind::Fault ? &*step : nullptr, responder);
}

// Takes a RestService request apart into `document` and the record (xml,
// parts, action); a malformed one gets its refusal.
std::optional<ServiceReply> LocalServicePrivate::parseRest(LocalService::RecordedRequest &rec,
                                                           QDomDocument *document) {
    if (rec.method != "POST")
        return plainReply(405, "Method Not Allowed\n");
    const QByteArray contentType = rec.header("content-type");
    if (contentType.trimmed().toLower().startsWith("multipart/")) {
        const QByteArray boundary = MultipartParser::boundaryOf(contentType);
        QString error;
        if (boundary.isEmpty())
            return ReplyWriter::failure(ServiceStatus::BadRequest,
                                        QStringLiteral("Richiesta multipart senza boundary"));
        if (!MultipartParser::parse(rec.body, boundary, &rec.parts, &error))
            return ReplyWriter::failure(
                ServiceStatus::BadRequest,
                QStringLiteral("Richiesta multipart non valida: %1").arg(error));
        if (rec.parts.size() != 2 || rec.parts.at(0).name != QLatin1String("xml"))
            return ReplyWriter::failure(
                ServiceStatus::BadRequest,
                QStringLiteral("La richiesta multipart deve contenere la parte \"xml\" e il file"));
        rec.xml = QString::fromUtf8(rec.parts.at(0).body);
    } else {
        rec.xml = QString::fromUtf8(rec.body);
    }
    QString error;
    int line = 0;
    int column = 0;
    if (!document->setContent(rec.xml, &error, &line, &column))
        return ReplyWriter::failure(
            ServiceStatus::BadRequest,
            QStringLiteral("Richiesta non valida: XML malformato (riga %1, colonna %2: %3)")
                .arg(line)
                .arg(column)
                .arg(error));
    const QDomElement root = document->documentElement();
    if (root.tagName() != QLatin1String("request"))
        return ReplyWriter::failure(ServiceStatus::BadRequest,
                                    QStringLiteral("Richiesta non valida: elemento radice "
                                                   "\"%1\" invece di \"request\"")
                                        .arg(root.tagName()));
    rec.action = root.firstChildElement(QStringLiteral("action")).text().trimmed();
    if (rec.action.isEmpty())
        return ReplyWriter::failure(ServiceStatus::BadRequest,
                                    QStringLiteral("Azione mancante nella richiesta"));
    return std::nullopt;
}

ServiceReply LocalServicePrivate::process(const LocalService::RecordedRequest &rec,
                                          const QDomDocument &document) {
    ActionRequest request;
    request.action = rec.action;
    request.root = document.documentElement();
    if (rec.parts.size() == 2)
        request.file = &rec.parts.at(1);

    if (rec.action == QLatin1String("login")) {
        if (forceUpdate) {
            forceUpdate = false;
            return ServiceActions::updateRequired(
                forceUpdateText.isEmpty()
                    ? QStringLiteral("È disponibile una nuova versione dell'applicazione: "
                                     "è necessario aggiornarla per continuare.")
                    : forceUpdateText);
        }
    } else {
        request.user = sessions.use(rec.sessionCookie);
        if (!request.user.isEmpty() && expireEvery > 0 && ++sessionRequests % expireEvery == 0) {
            sessions.end(rec.sessionCookie);
            request.user.clear();
        }
        if (request.user.isEmpty())
            return ReplyWriter::failure(
                ServiceStatus::SessionExpired,
                QStringLiteral("Sessione scaduta o non valida: effettuare di nuovo l'accesso"));
    }

    ServiceReply reply = actions.handle(request);
    if (!reply.signedInUser.isEmpty()) {
        const bool force = request.root.firstChildElement(QStringLiteral("forceLogin")).text() ==
                           QLatin1String("1");
        if (!rec.sessionCookie.isEmpty())
            sessions.end(rec.sessionCookie);
        const QByteArray id = sessions.open(reply.signedInUser, force);
        QByteArray cookie = kSessionCookie + '=' + id + "; Path=/vazedo; HttpOnly";
        if (tls)
            cookie += "; Secure";
        reply.headers.append({QByteArrayLiteral("Set-Cookie"), cookie});
    }
    return reply;
}

void LocalServicePrivate::send(quint64 serial, const ServiceReply &reply, const Step *fault,
                               QHttpServerResponder &responder) {
    QTcpSocket *socket = responder.socket();
    LocalService::RecordedRequest *rec = record(serial);
    const bool dropped = fault != nullptr;
    if (rec) {
        rec->httpStatus = dropped ? 0 : reply.httpStatus;
        rec->statusNumber = reply.statusNumber;
    }
    if (!fault && !reply.filePath.isEmpty()) {
        responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.httpStatus));
        responder.writeHeader("Content-Type", reply.contentType);
        responder.writeHeader("Content-Length", QByteArray::number(QFileInfo(reply.filePath).size()));
        for (const auto &header : reply.headers)
            responder.writeHeader(header.first, header.second);
        responder.writeBody("");
        if (!FileSender::send(reply.filePath, socket))
            socket->disconnectFromHost();
    } else if (!fault || fault->fault == LocalService::Fault::CloseMidReply) {
        responder.writeStatusLine(static_cast<QHttpServerResponder::StatusCode>(reply.httpStatus));
        responder.writeHeader("Content-Type", reply.contentType);
        if (reply.produce)
            responder.writeHeader("Transfer-Encoding", "chunked");
        else
            responder.writeHeader("Content-Length", QByteArray::number(reply.body.size()));
        for (const auto &header : reply.headers)
            responder.writeHeader(header.first, header.second);
        if (reply.produce) {
            ChunkedBody body(responder);
            if (!reply.produce(&body))
                body.abandon(); // the store failed half-way
        } else {
            responder.writeBody(fault ? reply.body.left(reply.body.size() / 2) : reply.body);
        }
    }
    if (fault)
        socket->disconnectFromHost();
    if (rec) {
        const LocalService::RecordedRequest copy = *rec;
        emit q->requestHandled(copy);
    }
}

// --- LocalService -------------------------------------------------------------------

QByteArray LocalService::RecordedRequest::header(const QByteArray &name) const {
    const QByteArray wanted = name.toLower();
    for (const auto &h : headers) {
        if (h.first.toLower() == wanted)
            return h.second;
    }
    return QByteArray();
}

QString LocalService::RecordedRequest::element(const QString &name) const {
    QDomDocument document;
    if (!document.setContent(xml))
        return QString();
    return document.elementsByTagName(name).item(0).toElement().text();
}

LocalService::LocalService(QObject *parent)
    : QObject(parent)
    , d(std::make_unique<LocalServicePrivate>(this)) {}

LocalService::~LocalService() {
    stop();
}

bool LocalService::start(const Options &options, QString *error) {
    stop();
    auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (options.dataDir.isEmpty())
        return failed(QStringLiteral("no data directory"));
    if (options.sessionLifetimeSeconds <= 0)
        return failed(QStringLiteral("the session lifetime must be positive"));
    if (options.tlsCertificateFile.isEmpty() != options.tlsKeyFile.isEmpty())
        return failed(QStringLiteral("TLS needs both a certificate and a key"));
    QString why;
    if (!d->store.open(options.dataDir, &why))
        return failed(why);
    d->options = options;
    d->actions.setMinimumClientVersion(options.minimumClientVersion);
    d->sessions.setLifetime(options.sessionLifetimeSeconds);

    d->server = std::make_unique<QHttpServer>();
    d->tls = !options.tlsCertificateFile.isEmpty();
    if (d->tls) {
        const QList<QSslCertificate> chain = QSslCertificate::fromPath(options.tlsCertificateFile);
        QFile keyFile(options.tlsKeyFile);
        QSslKey key;
        if (chain.isEmpty() || !keyFile.open(QIODevice::ReadOnly) ||
            !loadKey(keyFile.readAll(), &key)) {
            stop();
            return failed(QStringLiteral("cannot read the TLS certificate or key"));
        }
        QSslConfiguration configuration = QSslConfiguration::defaultConfiguration();
        configuration.setLocalCertificateChain(chain);
        configuration.setPrivateKey(key);
        configuration.setPeerVerifyMode(QSslSocket::VerifyNone); // no client certificates
        d->server->sslSetup(configuration);
    }
    QStringList paths = WebPages::paths();
    paths.prepend(kRestPath);
    for (const QString &path : paths) {
        d->server->route(
            path, [this](const QHttpServerRequest &request, QHttpServerResponder &&responder) {
                d->handle(request, std::move(responder));
            });
    }
    d->port = d->server->listen(options.bindAddress, options.port);
    if (d->port == 0) {
        stop();
        return failed(QStringLiteral("cannot listen on %1:%2")
                          .arg(options.bindAddress.toString())
                          .arg(options.port));
    }
    return true;
}

void LocalService::stop() {
    d->server.reset();
    d->sessions.endAll();
    d->store.close();
    d->port = 0;
}

bool LocalService::isRunning() const {
    return d->server && d->port != 0;
}

quint16 LocalService::port() const {
    return d->port;
}

QUrl LocalService::baseUrl() const {
    QUrl url;
    url.setScheme(d->tls ? QStringLiteral("https") : QStringLiteral("http"));
    const QHostAddress &address = d->options.bindAddress;
    const bool any = address == QHostAddress::Any || address == QHostAddress::AnyIPv4 ||
                     address == QHostAddress::AnyIPv6;
    url.setHost(any ? QStringLiteral("127.0.0.1") : address.toString());
    url.setPort(d->port);
    return url;
}

const LocalService::Options &LocalService::options() const {
    return d->options;
}

ServiceStore &LocalService::store() {
    return d->store;
}

const QList<LocalService::RecordedRequest> &LocalService::requests() const {
    return d->log;
}

QList<LocalService::RecordedRequest> LocalService::requests(const QString &action) const {
    QList<RecordedRequest> matching;
    for (const RecordedRequest &r : d->log) {
        if (r.action == action)
            matching.append(r);
    }
    return matching;
}

void LocalService::clearRequests() {
    d->log.clear();
}

void LocalService::scriptReply(int httpStatus, const QByteArray &body, const QString &action,
                               const QByteArray &contentType) {
    LocalServicePrivate::Step step{LocalServicePrivate::Step::Kind::Reply, action, {}, 0, {}};
    step.reply.httpStatus = httpStatus;
    step.reply.body = body;
    step.reply.contentType = contentType;
    d->script.append(step);
}

void LocalService::delayReply(int milliseconds, const QString &action) {
    d->script.append({LocalServicePrivate::Step::Kind::Delay, action, {}, milliseconds, {}});
}

void LocalService::injectFault(Fault fault, const QString &action, int count) {
    for (int i = 0; i < count; ++i)
        d->script.append({LocalServicePrivate::Step::Kind::Fault, action, {}, 0, fault});
}

void LocalService::clearScript() {
    d->script.clear();
}

void LocalService::expireSessionsNow() {
    d->sessions.endAll();
}

void LocalService::expireEveryNthRequest(int n) {
    d->expireEvery = qMax(0, n);
    d->sessionRequests = 0;
}

int LocalService::activeSessionCount() const {
    return d->sessions.count();
}

void LocalService::forceUpdateRequiredOnNextLogin(const QString &description) {
    d->forceUpdate = true;
    d->forceUpdateText = description;
}

QByteArray LocalService::installerFor(const QString &platform) {
    return WebPages::installerFor(platform);
}
