#include "MirrorRows.h"

#include <QDebug>
#include <QDomElement>
#include <QSqlError>
#include <QXmlStreamAttributes>

namespace {

// Rows of documents and values after which the rest of a body is indexed for
// the search in bulk, once at the end.
const int kBulkRows = 5000;

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
    Column columns[MirrorRows::kMaxColumns];
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

// A statement that failed only because its row violates a key is skipped;
// anything else is a failure of the whole synchronisation.
bool execute(QSqlQuery &q) {
    if (q.exec())
        return true;
    const int code = q.lastError().nativeErrorCode().toInt();
    if ((code & 0xff) == 19) // SQLITE_CONSTRAINT, extended or not
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

} // namespace

MirrorRows::MirrorRows(QSqlDatabase db)
    : m_db(db) {}

MirrorRows::~MirrorRows() {
    for (QSqlQuery &q : m_queries)
        q.finish();
}

bool MirrorRows::begin() {
    QSqlQuery q(m_db);
    for (const char *sql : {"DELETE FROM buckets", "DELETE FROM policies", "DELETE FROM folders",
                            "DELETE FROM metadati"}) {
        if (!q.exec(QLatin1String(sql))) {
            qDebug() << "Sync failed:" << q.lastError().text();
            return false;
        }
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

bool MirrorRows::Picker::pick(QStringView tag, const QXmlStreamAttributes &attributes, Row *row) {
    return take(
        tag, [&](const QLatin1String &name) { return attributes.value(name).toString(); }, row);
}

bool MirrorRows::Picker::pick(const QDomElement &element, Row *row) {
    return take(
        element.tagName(), [&](const QLatin1String &name) { return element.attribute(name); },
        row);
}

template <typename Attribute>
bool MirrorRows::Picker::take(QStringView tag, Attribute attribute, Row *row) {
    const Kind kind = kindOf(tag);
    if (kind == Folder)
        ++m_folderDepth;
    if (kind == KindCount || (kind == Metadato && m_folderDepth == 0))
        return false;
    const Mapping &m = kMappings[kind];
    row->kind = kind;
    for (int i = 0; i < m.count; ++i)
        row->values[i] = attribute(QLatin1String(m.columns[i].attribute));
    return true;
}

void MirrorRows::Picker::leave(QStringView tag) {
    if (tag == QLatin1String(kMappings[Folder].element))
        --m_folderDepth;
}

bool MirrorRows::write(const Row &row) {
    const Mapping &m = kMappings[row.kind];
    QSqlQuery &q = m_queries[row.kind];
    for (int i = 0; i < m.count; ++i) {
        const QString &value = row.values[i];
        if (m.columns[i].number)
            q.bindValue(i, value.toInt(nullptr, 10));
        else
            q.bindValue(i, value.isNull() ? kEmpty : value);
    }
    if (!execute(q))
        return false;
    if ((row.kind == File || row.kind == Value) && ++m_rows == kBulkRows)
        return SearchIndex::suspend(m_db, &m_bulk);
    return true;
}

bool MirrorRows::end() {
    return SearchIndex::resume(m_db, m_bulk);
}
