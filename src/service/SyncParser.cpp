#include "SyncParser.h"

#include "service/MirrorWriter.h"

namespace {

// Rows handed to the writer at a time.
const size_t kBatchRows = 1000;
// Rows waiting for the writer beyond which feed() waits for it: a reader that
// respects backlog() never gets here.
const qsizetype kMostWaiting = 200000;

} // namespace

SyncParser::SyncParser(const QString &user, std::function<void()> written)
    : m_user(user)
    , m_written(std::move(written))
    , m_envelope(ReplyEnvelope::Content::Dropped) {
    m_xml.setNamespaceProcessing(false);
}

SyncParser::~SyncParser() = default;

void SyncParser::feed(const QByteArray &bytes) {
    if (m_state == State::Whole) {
        m_bytes += bytes;
        return;
    }
    if (m_state != State::Reading || bytes.isEmpty())
        return;
    if (m_complete) {
        // Nothing but white space may follow the document.
        if (!QByteArrayView(bytes).trimmed().isEmpty()) {
            m_state = State::Malformed;
            m_writer.reset();
        }
        return;
    }
    if (!m_envelope.isCut())
        m_bytes += bytes;
    m_xml.addData(bytes);
    parse();
}

void SyncParser::finish() {
    if (m_state == State::Reading && !m_complete)
        m_state = State::Malformed; // the root never closed: the reply was cut short
    if (m_state != State::Reading)
        m_writer.reset();
}

QByteArray SyncParser::takeBytes() {
    return std::exchange(m_bytes, QByteArray());
}

qsizetype SyncParser::backlog() const {
    return m_writer ? m_writer->backlog() : 0;
}

bool SyncParser::isSettled() const {
    return !m_writer || m_writer->isSettled();
}

void SyncParser::parse() {
    while (m_state == State::Reading && !m_complete) {
        m_xml.readNext();
        if (m_xml.tokenType() == QXmlStreamReader::Invalid) {
            if (m_xml.error() != QXmlStreamReader::PrematureEndOfDocumentError)
                m_state = State::Malformed;
            break;
        }
        if (!token())
            break;
    }
    if (m_state != State::Reading) {
        m_writer.reset();
        m_batch.clear();
    } else {
        send();
    }
    if (m_state == State::Refused || m_state == State::Malformed)
        m_bytes.clear();
    // Only a reader that does not look at the backlog waits here.
    if (m_writer)
        m_writer->waitForBacklog(kMostWaiting);
}

// False once the reply is not to be read further this way.
bool SyncParser::token() {
    if (!m_limits.accept(m_xml)) {
        m_state = State::Refused;
        return false;
    }
    const bool cutBefore = m_envelope.isCut();
    if (!m_envelope.take(m_xml)) {
        // Before the first left-out element the reply can still be parsed
        // whole, as any other; after it, its bytes are gone.
        m_state = cutBefore ? State::Malformed : State::Whole;
        return false;
    }
    if (!cutBefore && m_envelope.isCut())
        m_bytes.clear();
    switch (m_xml.tokenType()) {
    case QXmlStreamReader::StartElement:
        if (m_bodyDepth >= 0) {
            ++m_bodyDepth;
            m_batch.emplace_back();
            if (!m_picker.pick(m_xml.qualifiedName(), m_xml.attributes(), &m_batch.back()))
                m_batch.pop_back();
            else if (m_batch.size() >= kBatchRows)
                send();
        } else if (!m_bodySeen && m_xml.qualifiedName() == QLatin1String("body")) {
            startRows();
        }
        break;
    case QXmlStreamReader::EndElement:
        if (m_bodyDepth < 0)
            break;
        if (m_bodyDepth-- > 0) {
            m_picker.leave(m_xml.qualifiedName());
        } else {
            send();
            m_writer->end();
        }
        break;
    case QXmlStreamReader::EndDocument:
        m_complete = true;
        break;
    default:
        break;
    }
    return true;
}

void SyncParser::startRows() {
    m_bodySeen = true;
    m_bodyDepth = 0;
    m_writer = std::make_unique<MirrorWriter>(m_user, m_written);
}

void SyncParser::send() {
    if (m_writer && !m_batch.empty())
        m_writer->write(std::exchange(m_batch, {}));
    m_batch.reserve(kBatchRows);
}

bool SyncParser::commit() {
    if (m_state != State::Reading || !m_complete)
        return false;
    // A reply without a body still replaces the profiles and classes, as its
    // tree would.
    if (!m_bodySeen) {
        startRows();
        m_writer->end();
    }
    return m_writer->commit();
}

std::unique_ptr<MirrorWriter> SyncParser::takeWriter() {
    return std::move(m_writer);
}
