#include "MirrorRows.h"

#include "storage/Database.h"

#include <QDebug>
#include <QDomElement>
#include <QSqlError>
#include <QSqlQuery>
#include <QXmlStreamAttributes>

#include <sqlite3.h>

namespace {

// Rows of documents and values after which the rest of a body is indexed for
// the search in bulk, once at the end.
const int kBulkRows = 5000;

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

} // namespace


MirrorRows::MirrorRows(QSqlDatabase db)
    : m_db(db) {}

MirrorRows::~MirrorRows() {
    for (sqlite3_stmt *statement : m_statements)
        sqlite3_finalize(statement);
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
    // Each row costs the database little; the statements are the library's
    // own, bound with UTF-8 as the file keeps it, so that nothing else costs more.
    sqlite3 *raw = Database::sqliteHandle(m_db);
    if (!raw)
        return false;
    for (int k = 0; k < KindCount; ++k) {
        if (sqlite3_prepare_v2(raw, kMappings[k].sql, -1, &m_statements[k], nullptr) != SQLITE_OK) {
            qDebug() << "Sync failed:" << sqlite3_errmsg(raw);
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
    sqlite3_stmt *statement = m_statements[row.kind];
    for (int i = 0; i < m.count; ++i) {
        const QString &value = row.values[i];
        if (m.columns[i].number) {
            sqlite3_bind_int(statement, i + 1, value.toInt(nullptr, 10));
        } else {
            // A missing attribute is stored as empty text, never as NULL.
            m_texts[i] = value.toUtf8();
            sqlite3_bind_text(statement, i + 1, m_texts[i].isNull() ? "" : m_texts[i].constData(),
                              int(m_texts[i].size()), SQLITE_STATIC);
        }
    }
    const int result = sqlite3_step(statement);
    sqlite3_reset(statement);
    // A row that only violates a key is skipped; anything else fails the
    // whole synchronisation.
    if (result != SQLITE_DONE && (result & 0xff) != SQLITE_CONSTRAINT) {
        qDebug() << "Sync failed:" << sqlite3_errmsg(sqlite3_db_handle(statement));
        return false;
    }
    if ((row.kind == File || row.kind == Value) && ++m_rows == kBulkRows)
        return SearchIndex::suspend(m_db, &m_bulk);
    return true;
}

bool MirrorRows::end() {
    return SearchIndex::resume(m_db, m_bulk);
}
