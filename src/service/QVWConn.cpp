#include "QVWConn.h"

#include "platform/FreeMemory.h"
#include "service/AbortLater.h"
#include "service/ReadLimit.h"
#include "service/ClientInfo.h"
#include "service/DomWalk.h"
#include "service/Inactivity.h"
#include "service/MirrorWriter.h"
#include "service/ReplyEnvelope.h"
#include "service/ReplyLimits.h"
#include "service/ServiceStatus.h"
#include "service/SyncStream.h"
#include "service/XmlEscape.h"

#include <QAuthenticator>
#include <QDebug>
#include <QDomDocument>
#include <QHttpMultiPart>
#include <QNetworkCookieJar>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QTextStream>
#include <QUrl>

#include <algorithm>
#include <new>
#include <utility>

namespace {

// Marks a reply that a newer post (or a logout) has replaced: whatever it
// still reports belongs to a request nobody waits for any more.
const char kSuperseded[] = "quilloraSuperseded";
// Marks a command's reply cut off for growing beyond ReplyLimits::kMaxCommandBytes.
const char kOversized[] = "quilloraOversized";

const int kMaxAutoLogins = 3;
const qint64 kDownloadBuffer = 16 * 1024 * 1024;

const QString kHostileReply =
    QStringLiteral("La risposta del servizio non è valida (troppo grande, troppo annidata o con "
                   "valori troppo lunghi): riprovare più tardi");

const QString kUnreadableReply =
    QStringLiteral("La risposta del servizio non è leggibile: riprovare più tardi");

const QString kXmlContentType = QStringLiteral("text/xml;charset=UTF-8");

// The first element named `name` below `root`, in document order.
QDomElement firstElement(const QDomNode &root, const QString &name) {
    for (QDomNode node = root.firstChild(); !node.isNull(); node = DomWalk::next(node, root)) {
        if (node.isElement() && node.toElement().tagName() == name)
            return node.toElement();
    }
    return QDomElement();
}

// Errors raised before or instead of an HTTP answer: the connection, TLS or
// the proxy failed, or the answer was cut short.
bool transportError(QNetworkReply::NetworkError error) {
    return error > QNetworkReply::NoError && error < QNetworkReply::ContentAccessDenied;
}

void supersede(QNetworkReply *reply, Qt::ConnectionType abortHow) {
    reply->setProperty(kSuperseded, true);
    // Its rows are undone now: the next synchronisation must not wait for them.
    if (SyncStream::drop(reply)) {
        reply->deleteLater();
        return;
    }
    if (abortHow == Qt::DirectConnection) {
        reply->abort();
        return;
    }
    abortLater(reply);
}

// What a reply has delivered so far, taken as it arrives: the network stack
// then never holds a large reply whole beside the copy read out at the end.
class ArrivedBytes : public QObject {
public:
    explicit ArrivedBytes(QNetworkReply *reply)
        : QObject(reply) {
        setObjectName(QLatin1String(kName));
        connect(reply, &QIODevice::readyRead, this, [this, reply] {
            // Room for all of it at once, instead of copies as it grows. A
            // declared length is believed only so far, and room the system
            // will not give is simply not taken in advance.
            if (bytes.isEmpty()) {
                try {
                    bytes.reserve(qBound<qint64>(
                        0, reply->header(QNetworkRequest::ContentLengthHeader).toLongLong(),
                        kMostReserved));
                } catch (const std::bad_alloc &) {
                }
            }
            bytes += reply->readAll();
        });
    }
    // Everything the reply has delivered.
    static QByteArray take(QNetworkReply *reply) {
        auto *arrived = static_cast<ArrivedBytes *>(
            reply->findChild<QObject *>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
        QByteArray all = arrived ? std::exchange(arrived->bytes, QByteArray()) : QByteArray();
        all += reply->readAll();
        return all;
    }

private:
    static constexpr char kName[] = "quilloraArrivedBytes";
    static constexpr qint64 kMostReserved = qint64(1) << 30;
    QByteArray bytes;
};

} // namespace

// One parsed service reply.
struct QVWConn::Answer {
    // `success`: an answer whose status may report a synchronisation.
    Answer(QNetworkReply *reply, bool success)
        : stream(SyncStream::of(reply)) {
        if (stream && stream->parser().state() == SyncParser::State::Reading) {
            document.setContent(stream->parser().envelope());
        } else {
            const bool mirrored = stream != nullptr;
            bytes = mirrored ? stream->parser().takeBytes() : ArrivedBytes::take(reply);
            // A login or synchronisation that cannot be read is no answer at all.
            unreadable = !parse(mirrored) && mirrored && !refused;
            stream = nullptr;
        }
        status = firstElement(document, QStringLiteral("statusnumber")).text();
        body = firstElement(document, QStringLiteral("body"));
        // Rows of any other answer are undone before its receivers run: they
        // may write to the mirror themselves.
        if (stream && !(success && (status == STATUS_LOGIN_OK || status == STATUS_SYNC_FOLDER_OK))) {
            SyncStream::drop(reply);
            stream = nullptr;
        }
    }
    // `mirrored`: a login's or synchronisation's reply.
    bool parse(bool mirrored) {
        // Parsed from the bytes as they came: the service writes UTF-8. The
        // tree of a login or synchronisation leaves out the documents and
        // values; the mirror reads them from `bytes`. Every other reply is
        // its receivers' whole (a history lists its versions as `file`).
        bool overLimits = false;
        const QByteArray envelope =
            mirrored ? ReplyEnvelope::strip(bytes, &overLimits) : QByteArray();
        if (envelope.isNull()) {
            refused = overLimits || !ReplyLimits::withinLimits(bytes);
            const bool parsed = !refused && document.setContent(bytes);
            bytes.clear();
            return parsed;
        }
        return document.setContent(envelope);
    }
    QString description() const {
        return firstElement(body, QStringLiteral("statusdescription")).text();
    }
    QString validation() const {
        QString text;
        QTextStream stream(&text);
        firstElement(document, QStringLiteral("validation")).save(stream, 4);
        return text;
    }

    // The reply read as it came, its rows waiting for a commit; or else the
    // whole reply when `document` is its envelope only.
    SyncStream *stream = nullptr;
    QByteArray bytes;
    bool refused = false; // beyond ReplyLimits: not parsed
    bool unreadable = false;
    QDomDocument document;
    QString status;
    QDomElement body;
};

QVWConn::QVWConn(QNetworkCookieJar *cookieJar, bool downloadMode)
    : QNetworkAccessManager(nullptr)
    , m_downloadMode(downloadMode) {
    if (cookieJar) {
        setCookieJar(cookieJar);
        cookieJar->setParent(nullptr); // shared by every connection, owned by the main window
        if (auto *session = qobject_cast<SessionJar *>(cookieJar))
            m_credentials = session;
    }
    m_request.setUrl(
        QUrl(m_setting.value(QStringLiteral("url")) + QStringLiteral("/vazedo/RestService")));
    connect(this, &QNetworkAccessManager::finished, this, &QVWConn::onParseRequest);
    connect(this, &QVWConn::loginSuccessful, this, &QVWConn::onSyncFolder);
    connect(this, &QNetworkAccessManager::proxyAuthenticationRequired, this,
            &QVWConn::onProxyAuthenticationRequired);
    applyProxySettings();
}

QVWConn::~QVWConn() {
    // Replies die with the manager; none may reach a half-destroyed object.
    disconnect(this, &QNetworkAccessManager::finished, this, &QVWConn::onParseRequest);
}

QNetworkReply *QVWConn::createRequest(Operation op, const QNetworkRequest &request,
                                      QIODevice *outgoingData) {
    QNetworkRequest timed(request);
    timed.setTransferTimeout(Inactivity::timeoutMs());
    QNetworkReply *reply = QNetworkAccessManager::createRequest(op, timed, outgoingData);
    // A file's receivers read it themselves; a login's or synchronisation's
    // reply is written to the mirror as it arrives; every other reply is
    // taken as it arrives.
    if (m_streamNext) {
        m_streamNext = false;
        new SyncStream(reply, std::exchange(m_streamUser, QString()),
                       [this](QNetworkReply *done) {
                           if (m_silenced)
                               done->deleteLater();
                           else
                               onParseRequest(done);
                       });
    } else if (!m_downloadMode) {
        new ArrivedBytes(reply);
    } else {
        // A file is read by its receiver as it comes; the network stack holds
        // only so much of it meanwhile.
        limitReadBuffer(reply, kDownloadBuffer);
    }
    return reply;
}

QNetworkRequest &QVWConn::request() {
    return m_request;
}

void QVWConn::setDownloadMode(bool on) {
    m_downloadMode = on;
}

void QVWConn::sendRequest(const QByteArray *body) {
    if (!body)
        return;
    startCommand();
    m_currentReply = post(m_request, *body);
    QNetworkReply *reply = m_currentReply;
    const bool download = m_downloadMode;
    if (download)
        connect(reply, &QNetworkReply::downloadProgress, this, &QVWConn::onProgressDownload);
    // Only a file, or the synchronisation of a large account, may be this large;
    // a download's refusal is read whole like any other.
    connect(reply, &QNetworkReply::downloadProgress, this, [reply, download](qint64 received) {
        if (download && reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() != 500)
            return;
        if (received > ReplyLimits::kMaxCommandBytes && !reply->property(kOversized).toBool()) {
            reply->setProperty(kOversized, true);
            reply->abort();
        }
    });
}

void QVWConn::uploadMultipart(QHttpMultiPart *multiPart) {
    if (!multiPart)
        return;
    m_request.setHeader(QNetworkRequest::ContentTypeHeader,
                        QByteArray("multipart/form-data;boundary=") + multiPart->boundary());
    startCommand();
    m_currentReply = post(m_request, multiPart);
    multiPart->setParent(m_currentReply);
    connect(m_currentReply, &QNetworkReply::uploadProgress, this, &QVWConn::onProgressUpload);
}

void QVWConn::abortCommand() {
    endInFlight(Qt::QueuedConnection);
    endCommand();
}

void QVWConn::applyProxySettings() {
    const QString host = m_setting.value(QStringLiteral("proxyUrl"));
    if (host.isEmpty()) {
        setProxy(QNetworkProxy(QNetworkProxy::NoProxy));
        return;
    }
    const int port = m_setting.value(QStringLiteral("proxyPort")).toInt(nullptr, 10);
    setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, host,
                           port > 0 && port <= 65535 ? quint16(port) : 0));
}

void QVWConn::login(const QString &username, const QString &password, bool forceLogin) {
    if (username.isEmpty() && password.isEmpty()) {
        endCommand();
        emit loginFailure();
        return;
    }
    m_pendingUsername = username;
    m_pendingPassword = password;
    // One pass of arg(): a "%4" typed by the user is not a placeholder.
    const QString body =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>login</action>"
                       "<username>%1</username><password>%2</password>%3<codesync>%4</codesync>"
                       "<version>%5</version><platform>%6</platform></request>")
            .arg(xmlEscaped(username), xmlEscaped(password),
                 forceLogin ? QStringLiteral("<forceLogin>1</forceLogin>") : QString(),
                 xmlEscaped(codeSync(username)), xmlEscaped(ClientInfo::version()),
                 xmlEscaped(ClientInfo::platform()));
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, kXmlContentType);
    if (QNetworkReply *previous = std::exchange(m_loginReply, nullptr))
        supersede(previous, Qt::DirectConnection);
    m_streamNext = true;
    m_streamUser = username;
    m_loginReply = post(m_request, body.toUtf8());
}

void QVWConn::logout() {
    m_credentials->username.clear();
    m_credentials->password.clear();
    m_pendingUsername.clear();
    m_pendingPassword.clear();
    releaseSyncReply();
    endInFlight(Qt::DirectConnection);
    disconnect(this, nullptr, nullptr, nullptr);
    m_silenced = true;
}

void QVWConn::setCredentials(const QString &username, const QString &password) {
    m_credentials->username = username;
    m_credentials->password = password;
}

void QVWConn::syncFolder() {
    const QString body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request>"
                                        "<action>syncfolder</action><codesync>%1</codesync>"
                                        "</request>")
                             .arg(xmlEscaped(codeSync(m_credentials->username)));
    m_request.setHeader(QNetworkRequest::ContentTypeHeader, kXmlContentType);
    startCommand();
    m_streamNext = true;
    m_currentReply = post(m_request, body.toUtf8());
}

bool QVWConn::clearOtherUserData(const QString &username) {
    // A streamed login took them out in its own transaction.
    if (!m_streamedUser.isEmpty() && m_streamedUser == username)
        return false;
    return m_mirror.clearOtherUserData(username);
}

QString QVWConn::codeSync(const QString &username) {
    return m_mirror.codeSync(username);
}

void QVWConn::onParseRequest(QNetworkReply *reply) {
    m_proxyAuthCount = 0;
    if (reply->property(kSuperseded).toBool()) {
        reply->deleteLater();
        return;
    }
    SyncStream *stream = SyncStream::of(reply);
    if (stream && !stream->isDone())
        return; // the stream calls again once it has read the rest
    // A login's answer is XML even while the connection waits for a file.
    bool download = m_downloadMode;
    if (reply == m_currentReply) {
        m_currentReply = nullptr;
    } else if (reply == m_loginReply) {
        m_loginReply = nullptr;
        download = false;
    } else {
        qDebug() << "WARNING *** spurious signal received";
        return;
    }
    disconnect(reply, &QNetworkReply::uploadProgress, this, &QVWConn::onProgressUpload);
    disconnect(reply, &QNetworkReply::downloadProgress, this, &QVWConn::onProgressDownload);

    const int httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool serviceAnswered =
        (httpStatus == 200 || httpStatus == 500) && !transportError(reply->error());
    if (download && !(serviceAnswered && httpStatus == 500)) {
        // The file itself: the receiver reads it (as it arrives, or now) and
        // checks its error state.
        endCommand();
        emit downloadFinish(reply);
        reply->deleteLater();
        return;
    }
    const SyncParser::State streamed =
        stream ? stream->parser().state() : SyncParser::State::Reading;
    const bool aborted = stream && stream->abortedReply();
    // Rows of a reply that ends in a failure are undone before anyone hears
    // of it (a receiver may wait on the user, or write to the mirror).
    if (!serviceAnswered || streamed == SyncParser::State::Refused ||
        streamed == SyncParser::State::Malformed)
        SyncStream::drop(reply);
    if (reply->property(kOversized).toBool() || streamed == SyncParser::State::Refused) {
        endCommand();
        emit commandFailure(kHostileReply, STATUS_NETWORK_ERROR);
    } else if (aborted || (serviceAnswered && streamed == SyncParser::State::Malformed)) {
        endCommand();
        emit commandFailure(kUnreadableReply, STATUS_NETWORK_ERROR);
    } else if (!serviceAnswered) {
        endCommand();
        emit commandFailure(Inactivity::failureText(reply), STATUS_NETWORK_ERROR);
    } else if (const Answer answer(reply, httpStatus == 200 && !download);
               answer.refused || answer.unreadable) {
        endCommand();
        emit commandFailure(answer.refused ? kHostileReply : kUnreadableReply,
                            STATUS_NETWORK_ERROR);
    } else if (download) {
        classifyDownloadError(answer);
    } else if (httpStatus == 200) {
        classifyAnswer(answer);
    } else {
        classifyError(answer);
    }
    SyncStream::drop(reply); // rows nobody committed are undone now
    reply->deleteLater();
}

void QVWConn::onSyncFolder(const QDomElement &body) {
    applySync(body);
}

void QVWConn::onProgressUpload(qint64 bytesSent, qint64 bytesTotal) {
    emit avanzamentoUpload(bytesSent, bytesTotal);
}

void QVWConn::onProgressDownload(qint64 bytesReceived, qint64 bytesTotal) {
    if (bytesReceived > 512)
        emit avanzamentoDownload(bytesReceived, bytesTotal);
}

void QVWConn::onUpdateFailure(const QString &message) {
    disconnect(&m_dialogUpdate, &DialogUpdate::updateFailure, this, &QVWConn::onUpdateFailure);
    emit commandFailure(message, STATUS_UPDATE_FAILED);
}

void QVWConn::onProxyAuthenticationRequired(const QNetworkProxy &, QAuthenticator *authenticator) {
    ++m_proxyAuthCount;
    if (m_proxyAuthCount < 3) {
        authenticator->setUser(m_setting.value(QStringLiteral("proxyUsername")));
        authenticator->setPassword(m_setting.value(QStringLiteral("proxyPassword")));
        return;
    }
    // The proxy keeps refusing: end what is in flight and say so once. The
    // abort waits for the network stack to leave this request.
    m_proxyAuthCount = 0;
    if (!m_currentReply && !m_loginReply)
        return;
    endInFlight(Qt::QueuedConnection);
    endCommand();
    emit commandFailure(QStringLiteral("Username o password del proxy errate"),
                        STATUS_NETWORK_ERROR);
}

void QVWConn::startCommand() {
    ++m_retryCount;
    if (QNetworkReply *previous = std::exchange(m_currentReply, nullptr))
        supersede(previous, Qt::DirectConnection);
}

void QVWConn::endCommand() {
    // A command's final answer, whatever it is: the next one starts with its
    // own allowance of renewals (a failure left uncounted would refuse the
    // renewal a later command needs).
    m_retryCount = 0;
    m_autoLogins = 0;
}

void QVWConn::endInFlight(Qt::ConnectionType abortHow) {
    if (QNetworkReply *reply = std::exchange(m_currentReply, nullptr))
        supersede(reply, abortHow);
    if (QNetworkReply *reply = std::exchange(m_loginReply, nullptr))
        supersede(reply, abortHow);
}

bool QVWConn::applySync(const QDomElement &body) {
    bool applied = false;
    if (body.isNull() || body != m_syncBody) {
        applied = m_mirror.apply(body);
    } else if (SyncStream *stream = std::exchange(m_syncStream, nullptr)) {
        applied = stream->parser().commit();
        // Writers still copying their log are not waited for.
        m_writers.erase(std::remove_if(m_writers.begin(), m_writers.end(),
                                       [](const auto &w) { return w->isFinished(); }),
                        m_writers.end());
        m_writers.push_back(stream->parser().takeWriter());
        m_syncBody = QDomElement(); // its rows are in; none are left to apply again
        if (applied)
            m_streamedUser = m_syncUser;
    } else {
        applied = m_mirror.applyReply(m_syncReply);
    }
    if (!applied) {
        emit commandFailure(QStringLiteral("Impossibile aggiornare l'archivio locale"),
                            STATUS_NETWORK_ERROR);
        return false;
    }
    emit syncCategorieOK();
    return true;
}

void QVWConn::classifyAnswer(const Answer &answer) {
    m_retryCount = 0;
    if ((answer.stream || !answer.bytes.isEmpty()) &&
        (answer.status == STATUS_LOGIN_OK || answer.status == STATUS_SYNC_FOLDER_OK)) {
        // Whoever applies this body applies the rows read with it.
        m_syncBody = answer.body;
        m_syncStream = answer.stream;
        m_syncReply = answer.bytes;
        m_syncUser = answer.status == STATUS_LOGIN_OK ? m_pendingUsername : QString();
    }
    if (answer.status == STATUS_LOGIN_OK) {
        m_credentials->username = m_pendingUsername;
        m_credentials->password = m_pendingPassword;
        emit loginSuccessful(answer.body); // the mirror is refreshed first
        releaseSyncReply();
        emit retry();
        return;
    }
    m_autoLogins = 0;
    if (answer.status == STATUS_SYNC_FOLDER_OK) {
        const bool applied = applySync(answer.body);
        releaseSyncReply();
        if (!applied)
            return;
    }
    emit commandSuccessful(answer.body, answer.status);
}

void QVWConn::releaseSyncReply() {
    // Every receiver has applied it by now: a large account's reply must not
    // stay in memory until the next one.
    m_syncBody = QDomElement();
    m_syncStream = nullptr;
    m_syncReply = QByteArray();
    m_syncUser.clear();
    m_streamedUser.clear();
    Platform::releaseFreeMemory();
}

void QVWConn::classifyError(const Answer &answer) {
    if (answer.status == STATUS_UPDATE_REQUIRED) {
        connect(&m_dialogUpdate, &DialogUpdate::updateFailure, this, &QVWConn::onUpdateFailure,
                Qt::UniqueConnection);
        m_dialogUpdate.setModal(true);
        m_dialogUpdate.setMessage(answer.description());
        m_dialogUpdate.show();
    } else if (answer.status == STATUS_LOGIN_KO) {
        endCommand();
        emit loginFailure();
    } else if (answer.status == STATUS_SESSION_EXPIRED) {
        sessionExpired(answer);
    } else {
        endCommand();
        emit commandFailure(answer.status == STATUS_VALIDATION_KO ? answer.validation()
                                                                  : answer.description(),
                            answer.status);
    }
}

void QVWConn::classifyDownloadError(const Answer &answer) {
    if (answer.status == STATUS_SESSION_EXPIRED) {
        sessionExpired(answer);
        return;
    }
    endCommand();
    emit commandFailure(answer.description(), answer.status);
}

void QVWConn::sessionExpired(const Answer &answer) {
    if (m_retryCount < 2 && m_autoLogins < kMaxAutoLogins) {
        ++m_autoLogins;
        m_downloadMode = false; // the login's answer is XML
        login(m_credentials->username, m_credentials->password, false);
        return;
    }
    endCommand();
    emit commandFailure(answer.description(), answer.status);
}
