#include "MirrorSync.h"

#include "service/DomWalk.h"
#include "service/ReplyReader.h"
#include "storage/SearchIndex.h"

#include <QDebug>
#include <QLocale>
#include <QSqlError>
#include <QSqlQuery>
#include <QXmlStreamReader>

namespace {

// Rows of documents and values after which the rest of a body is indexed for
// the search in bulk, once at the end.
const int kBulkRows = 5000;

// A stamp as the service writes it: a plain decimal ("12.5", "1715000000.0"),
// never an exponent, which the service would not read as a number.
QString stampText(const QVariant &stamp) {
    if (stamp.typeId() != QMetaType::Double)
        return stamp.toString();
    QString text = QString::number(stamp.toDouble(), 'f', QLocale::FloatingPointShortest);
    if (!text.contains(QLatin1Char('.')))
        text += QStringLiteral(".0");
    return text;
}

// A missing attribute is stored as empty text, never as NULL.
const QString kEmpty = QStringLiteral("");

// How the elements of a synchronisation body become rows: the element, its
// statement, and the attribute bound to each placeholder in order (a number
// is converted with base 10, anything else is text).
enum Kind { Bucket, Policie, Folder, Metadato, File, Value, KindCount };

struct Column {
    const char *attribute;
    bool number;
};

struct Mapping {
    const char *element;
    const char *sql;
    Column columns[11];
    int count;
};

const Mapping kMappings[KindCount] = {
    {"bucket",
     "INSERT INTO buckets (idbuckets, description, quota, used, unit, div) "
     "VALUES (?, ?, ?, ?, ?, ?)",
     {{"id", false},
      {"description", false},
      {"quota", false},
      {"used", false},
      {"unit", false},
      {"div", false}},
     6},
    {"policie",
     "INSERT INTO policies (idpolicies, idbuckets, description) VALUES (?, ?, ?)",
     {{"policie", false}, {"idbucket", false}, {"description", false}},
     3},
    {"folder",
     "INSERT INTO folders (idfolder, name, groups, custom, idbuckets, idpolicies) "
     "VALUES (?, ?, ?, ?, ?, ?)",
     {{"id", true},
      {"name", false},
      {"groups", false},
      {"custom", false},
      {"idbuckets", false},
      {"idpolicies", false}},
     6},
    {"metadato",
     "INSERT INTO metadati (idmetadato, idfolder, nome, tipo, visibile, required, custom) "
     "VALUES (?, ?, ?, ?, ?, ?, ?)",
     {{"idmetadato", true},
      {"idfolder", true},
      {"name", false},
      {"type", true},
      {"visible", true},
      {"required", true},
      {"custom", true}},
     7},
    {"file",
     "INSERT OR REPLACE INTO files (hash, hash4k, last_modified, fullpath, token, folderid, "
     "username, tsupdate, idbuckets, tsconserve, computer_name) "
     "VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
     {{"hash", false},
      {"hash4k", false},
      {"last_modified", false},
      {"filename", false},
      {"token", false},
      {"idfolder", true},
      {"username", false},
      {"tsupdate", false},
      {"idbuckets", false},
      {"tsconserve", false},
      {"computer_name", false}},
     11},
    {"metadatoValue",
     "INSERT OR REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)",
     {{"key", false}, {"value", false}, {"hash", false}},
     3},
};

Kind kindOf(QStringView tag) {
    for (int k = 0; k < KindCount; ++k) {
        if (tag == QLatin1String(kMappings[k].element))
            return Kind(k);
    }
    return KindCount;
}

bool execute(QSqlQuery &q, const QString &sql) {
    if (q.exec(sql))
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

// Writes a body's rows in document order, one element at a time. The order
// of the statements across tables does not matter; within a table it is the
// body's, so that the first class field and the last value of a key win. A
// field counts only inside a class, once however deeply it is nested.
class RowWriter {
public:
    explicit RowWriter(QSqlDatabase &db)
        : m_db(db) {}
    ~RowWriter() {
        for (QSqlQuery &q : m_queries)
            q.finish();
    }

    bool begin() {
        QSqlQuery q(m_db);
        for (const char *sql : {"DELETE FROM buckets", "DELETE FROM policies",
                                "DELETE FROM folders", "DELETE FROM metadati"}) {
            if (!execute(q, QLatin1String(sql)))
                return false;
        }
        for (int k = 0; k < KindCount; ++k) {
            m_queries[k] = QSqlQuery(m_db);
            if (!m_queries[k].prepare(QLatin1String(kMappings[k].sql))) {
                qDebug() << "Sync failed:" << m_queries[k].lastError().text();
                return false;
            }
        }
        return true;
    }

    // The start of an element; `attribute(name)` reads one of its attributes
    // (a null text when missing).
    template <typename Attribute> bool enter(QStringView tag, Attribute attribute) {
        const Kind kind = kindOf(tag);
        if (kind == Folder)
            ++m_folderDepth;
        if (kind == KindCount || (kind == Metadato && m_folderDepth == 0))
            return true;
        const Mapping &m = kMappings[kind];
        QSqlQuery &q = m_queries[kind];
        for (int i = 0; i < m.count; ++i) {
            const QString value = attribute(QLatin1String(m.columns[i].attribute));
            if (m.columns[i].number)
                q.bindValue(i, value.toInt(nullptr, 10));
            else
                q.bindValue(i, value.isNull() ? kEmpty : value);
        }
        if (!exec(q))
            return false;
        if ((kind == File || kind == Value) && ++m_rows == kBulkRows)
            return SearchIndex::suspend(m_db, &m_bulk);
        return true;
    }

    void leave(QStringView tag) {
        if (tag == QLatin1String(kMappings[Folder].element))
            --m_folderDepth;
    }

    bool end() { return SearchIndex::resume(m_db, m_bulk); }

private:
    // A statement that failed only because its row violates a key is
    // skipped; anything else is a failure of the whole synchronisation.
    static bool exec(QSqlQuery &q) {
        if (q.exec())
            return true;
        const int code = q.lastError().nativeErrorCode().toInt();
        if ((code & 0xff) == 19) // SQLITE_CONSTRAINT, extended or not
            return true;
        qDebug() << "Sync failed:" << q.lastError().text();
        return false;
    }

    QSqlDatabase &m_db;
    QSqlQuery m_queries[KindCount];
    int m_folderDepth = 0;
    int m_rows = 0;
    SearchIndex::Bulk m_bulk;
};

bool writeElement(RowWriter &writer, const QDomElement &body) {
    if (!writer.begin())
        return false;
    const auto leave = [&](const QDomNode &left) { writer.leave(left.toElement().tagName()); };
    for (QDomNode node = body.firstChild(); !node.isNull();
         node = DomWalk::next(node, body, leave)) {
        if (!node.isElement())
            continue;
        const QDomElement e = node.toElement();
        if (!writer.enter(e.tagName(),
                          [&](const QLatin1String &name) { return e.attribute(name); }))
            return false;
        if (!e.hasChildNodes())
            writer.leave(e.tagName());
    }
    return writer.end();
}

// The same walk over the reply's text: the content of its first `body`
// element.
bool writeReply(RowWriter &writer, const QByteArray &reply) {
    if (!writer.begin())
        return false;
    ReplyReader reader(reply);
    QXmlStreamReader &xml = reader.xml;
    int depth = -1; // inside body when >= 0
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (token == QXmlStreamReader::StartElement) {
            if (depth >= 0) {
                ++depth;
                const QXmlStreamAttributes attributes = xml.attributes();
                if (!writer.enter(xml.qualifiedName(), [&](const QLatin1String &name) {
                        return attributes.value(name).toString();
                    }))
                    return false;
            } else if (xml.qualifiedName() == QLatin1String("body")) {
                depth = 0;
            }
        } else if (token == QXmlStreamReader::EndElement && depth >= 0) {
            if (depth-- == 0)
                break;
            writer.leave(xml.qualifiedName());
        }
    }
    if (xml.hasError()) {
        qDebug() << "Sync failed:" << xml.errorString();
        return false;
    }
    return writer.end();
}

} // namespace

MirrorSync::MirrorSync() = default;

bool MirrorSync::apply(const QDomElement &body) {
    return write([&](RowWriter &writer) { return writeElement(writer, body); });
}

bool MirrorSync::applyReply(const QByteArray &reply) {
    return write([&](RowWriter &writer) { return writeReply(writer, reply); });
}

template <typename Rows> bool MirrorSync::write(Rows rows) {
    m_database.open();
    QSqlDatabase &db = m_database.db;
    // The unique keys of a large account's values do not fit SQLite's
    // default page cache of 2 MB. The setting ends with the connection.
    QSqlQuery(db).exec(QStringLiteral("PRAGMA cache_size = -65536"));
    bool ok = db.isOpen() && db.transaction();
    if (ok) {
        {
            RowWriter writer(db);
            ok = rows(writer);
        }
        ok = ok ? db.commit() : (db.rollback(), false);
    }
    m_database.close();
    return ok;
}

QString MirrorSync::codeSync(const QString &username) {
    QString result;
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.prepare(
            QStringLiteral("SELECT max(tsupdate) FROM files WHERE token != '' AND username = ?"));
        q.addBindValue(username);
        if (q.exec() && q.next() && !q.value(0).isNull())
            result = stampText(q.value(0));
    }
    m_database.close();
    return result.isEmpty() ? QStringLiteral("0.0") : result;
}

bool MirrorSync::clearOtherUserData(const QString &username) {
    bool other = false;
    m_database.open();
    {
        QSqlQuery q(m_database.db);
        q.exec(QStringLiteral("SELECT username FROM files WHERE username!='' GROUP BY username"));
        while (!other && q.next())
            other = q.value(0).toString() != username;
        q.finish();
        if (other) {
            for (const char *sql : {"DELETE FROM files", "DELETE FROM metadati_values",
                                    "DELETE FROM buckets", "DELETE FROM policies"})
                q.exec(QString::fromLatin1(sql));
        }
    }
    m_database.close();
    return other;
}
