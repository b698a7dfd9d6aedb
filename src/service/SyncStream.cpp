#include "SyncStream.h"

#include "service/ReadLimit.h"

#include <QNetworkReply>

namespace {

const char kName[] = "quilloraSyncStream";
// A slice costs the window a few milliseconds of parsing.
const qint64 kSlice = 128 * 1024;
// Rows parsed ahead of the writer beyond which the reply waits in the
// network's buffer.
const qsizetype kMostAhead = 20000;

} // namespace

SyncStream::SyncStream(QNetworkReply *reply, const QString &user,
                       std::function<void(QNetworkReply *)> done)
    : QObject(reply)
    , m_reply(reply)
    , m_parser(user,
               [this] {
                   // On the writer's thread: the next step is the window's.
                   QMetaObject::invokeMethod(
                       this, [this] { m_next.start(); }, Qt::QueuedConnection);
               })
    , m_onDone(std::move(done)) {
    setObjectName(QLatin1String(kName));
    limitReadBuffer(reply, kReadBuffer);
    // A zero timer fires once the window's own events have been handled.
    m_next.setSingleShot(true);
    m_next.setInterval(0);
    connect(&m_next, &QTimer::timeout, this, &SyncStream::step);
    const auto later = [this] { m_next.start(); };
    connect(reply, &QIODevice::readyRead, this, later);
    connect(reply, &QNetworkReply::finished, this, later);
}

SyncStream *SyncStream::of(QNetworkReply *reply) {
    return static_cast<SyncStream *>(
        reply->findChild<QObject *>(QLatin1String(kName), Qt::FindDirectChildrenOnly));
}

bool SyncStream::drop(QNetworkReply *reply) {
    SyncStream *stream = of(reply);
    if (!stream)
        return false;
    const bool waiting = reply->isFinished() && !stream->m_done;
    delete stream;
    return waiting;
}

void SyncStream::step() {
    if (m_done)
        return;
    if (!m_checked && (m_reply->bytesAvailable() > 0 || m_reply->isFinished())) {
        // Only the service's own answers are replies; anything else (a
        // proxy's page, say) is read and dropped, and its status tells.
        const int http = m_reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
        m_parsing = http == 200 || http == 500;
        m_checked = true;
    }
    if (m_parsing && m_reply->bytesAvailable() > 0 && m_parser.backlog() > kMostAhead)
        return; // the writer's notice brings the next step
    const QByteArray slice = m_reply->read(kSlice);
    if (m_parsing)
        m_parser.feed(slice);
    const SyncParser::State state = m_parser.state();
    if (state == SyncParser::State::Refused || state == SyncParser::State::Malformed) {
        if (!m_reply->isFinished()) {
            m_aborted = true;
            m_reply->abort(); // finished comes back through the timer
            return;
        }
    } else if (m_reply->bytesAvailable() > 0) {
        m_next.start();
        return;
    }
    if (!m_reply->isFinished())
        return; // more comes with readyRead
    if (!m_finished) {
        m_finished = true;
        m_reply->readAll(); // whatever a refused reply still held
        if (m_parsing)
            m_parser.finish();
    }
    if (!m_parser.isSettled())
        return; // the writer's notice brings the next step
    m_done = true;
    // The owner may drop this stream while it hears of the reply.
    const auto done = m_onDone;
    done(m_reply);
}
