#include "SyncParser.h"

#include "service/MirrorRows.h"
#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QAtomicInt>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>

namespace {

QAtomicInt connectionSerial;

bool run(QSqlDatabase db, const char *sql) {
    QSqlQuery q(db);
    if (q.exec(QLatin1String(sql)))
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

} // namespace

SyncParser::SyncParser(const QString &user)
    : m_user(user) {
    m_xml.setNamespaceProcessing(false);
}

SyncParser::~SyncParser() {
    endConnection();
}

void SyncParser::feed(const QByteArray &bytes) {
    if (m_state == State::Whole) {
        m_bytes += bytes;
        return;
    }
    if (m_state != State::Reading || m_complete || bytes.isEmpty())
        return;
    if (!m_envelope.isCut())
        m_bytes += bytes;
    m_xml.addData(bytes);
    parse();
}

void SyncParser::finish() {
    if (m_state == State::Reading && !m_complete) {
        // The root never closed: the reply was cut short.
        m_state = State::Malformed;
    }
    if (m_state != State::Reading || m_rowsFailed)
        endConnection();
}

QByteArray SyncParser::takeBytes() {
    return std::exchange(m_bytes, QByteArray());
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
    if (m_state != State::Reading)
        endConnection();
    if (m_state == State::Refused || m_state == State::Malformed)
        m_bytes.clear();
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
            if (m_rows && !m_rows->enter(m_xml.qualifiedName(), m_xml.attributes()))
                failRows();
        } else if (!m_bodySeen && m_xml.qualifiedName() == QLatin1String("body")) {
            m_bodySeen = true;
            m_bodyDepth = 0;
            if (!startRows())
                failRows();
        }
        break;
    case QXmlStreamReader::EndElement:
        if (m_bodyDepth < 0)
            break;
        if (m_bodyDepth-- > 0) {
            if (m_rows)
                m_rows->leave(m_xml.qualifiedName());
        } else if (m_rows) {
            m_rowsEnded = m_rows->end();
            if (!m_rowsEnded)
                failRows();
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

bool SyncParser::startRows() {
    // The file and its schema come from the shared connection, as for any use.
    Database shared;
    if (!shared.open())
        return false;
    shared.close();
    m_connection = QStringLiteral("quilloraSync%1").arg(connectionSerial.fetchAndAddRelaxed(1));
    m_db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    m_db.setDatabaseName(Database::filePath());
    if (!m_db.open())
        return false;
    // The unique keys of a large account's values do not fit SQLite's default
    // page cache of 2 MB; the log of a large write is not kept at its size.
    run(m_db, "PRAGMA cache_size = -65536");
    run(m_db, "PRAGMA journal_size_limit = 8388608");
    SearchIndex::ensure(m_db);
    if (!m_db.transaction())
        return false;
    if (!m_user.isEmpty()) {
        QSqlQuery q(m_db);
        q.prepare(QStringLiteral("SELECT 1 FROM files WHERE username != '' AND username != ? "
                                 "LIMIT 1"));
        q.addBindValue(m_user);
        if (!q.exec())
            return false;
        const bool other = q.next();
        q.finish();
        if (other && !(run(m_db, "DELETE FROM files") && run(m_db, "DELETE FROM metadati_values")))
            return false;
    }
    m_rows = std::make_unique<MirrorRows>(m_db);
    return m_rows->begin();
}

void SyncParser::failRows() {
    m_rowsFailed = true;
    endConnection();
}

bool SyncParser::commit() {
    // A reply without a body still replaces the profiles and classes, as its
    // tree would.
    if (m_state == State::Reading && m_complete && !m_bodySeen) {
        m_bodySeen = true;
        m_rowsEnded = startRows() && m_rows->end();
        m_rowsFailed = !m_rowsEnded;
    }
    if (m_state != State::Reading || !m_complete || m_rowsFailed) {
        endConnection();
        return false;
    }
    m_rows.reset();
    const bool ok = m_rowsEnded && m_db.commit();
    if (!ok)
        qDebug() << "Sync failed:" << m_db.lastError().text();
    endConnection();
    return ok;
}

void SyncParser::endConnection() {
    m_rows.reset();
    if (m_connection.isEmpty())
        return;
    if (m_db.isOpen()) {
        m_db.rollback(); // harmless after a commit
        m_db.close();
    }
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(std::exchange(m_connection, QString()));
}
