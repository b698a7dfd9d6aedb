#include "SearchIndex.h"

#include <QSqlQuery>
#include <QVariant>

#include <iterator>
#include <limits>
#include <optional>

namespace {

// Dropped before anything is made again, in this order; sqlite_master must
// hold every one of them for the index to count as ready. The triggers come
// first, in the order of kTriggers.
const QStringList kObjects = {
    QStringLiteral("search_files_ai"),    QStringLiteral("search_files_ad"),
    QStringLiteral("search_files_au"),    QStringLiteral("search_values_ai"),
    QStringLiteral("search_values_ad"),   QStringLiteral("search_values_au"),
    QStringLiteral("search_files_vocab"), QStringLiteral("search_values_vocab"),
    QStringLiteral("search_files"),       QStringLiteral("search_values"),
    QStringLiteral("search_values_hash"), QStringLiteral("search_files_folder"),
};

// The full-text tables are keyed by the rowid of the row they copy. Every
// trigger first deletes the entry under the rowid it writes: an entry left
// behind by a replaced row must not make the insert fail, whatever conflict
// clause the statement that fired the trigger carries.
const char *const kTriggers[] = {
    "CREATE TRIGGER search_files_ai AFTER INSERT ON files BEGIN "
    "DELETE FROM search_files WHERE rowid = new.rowid; "
    "INSERT INTO search_files (rowid, computer_name, fullpath) "
    "VALUES (new.rowid, new.computer_name, new.fullpath); END",
    "CREATE TRIGGER search_files_ad AFTER DELETE ON files BEGIN "
    "DELETE FROM search_files WHERE rowid = old.rowid; END",
    "CREATE TRIGGER search_files_au AFTER UPDATE OF computer_name, fullpath ON files BEGIN "
    "DELETE FROM search_files WHERE rowid = old.rowid; "
    "DELETE FROM search_files WHERE rowid = new.rowid; "
    "INSERT INTO search_files (rowid, computer_name, fullpath) "
    "VALUES (new.rowid, new.computer_name, new.fullpath); END",
    "CREATE TRIGGER search_values_ai AFTER INSERT ON metadati_values BEGIN "
    "DELETE FROM search_values WHERE rowid = new.id; "
    "INSERT INTO search_values (rowid, value) VALUES (new.id, new.value); END",
    "CREATE TRIGGER search_values_ad AFTER DELETE ON metadati_values BEGIN "
    "DELETE FROM search_values WHERE rowid = old.id; END",
    "CREATE TRIGGER search_values_au AFTER UPDATE OF id, value ON metadati_values BEGIN "
    "DELETE FROM search_values WHERE rowid = old.id; "
    "DELETE FROM search_values WHERE rowid = new.id; "
    "INSERT INTO search_values (rowid, value) VALUES (new.id, new.value); END",
};

const char *const kIndexes[] = {
    "CREATE INDEX search_values_hash ON metadati_values (hash)",
    "CREATE INDEX search_files_folder ON files (folderid)",
};

// One mirrored table and its full-text table. `fill` copies the rows whose
// key is at least the bound.
struct Mirrored {
    const char *table, *key, *fts, *vocab, *createFts, *createVocab, *fill;
};

const Mirrored kMirrored[] = {
    {"files", "rowid", "search_files", "search_files_vocab",
     "CREATE VIRTUAL TABLE search_files USING fts5(computer_name, fullpath, tokenize='trigram')",
     "CREATE VIRTUAL TABLE search_files_vocab USING fts5vocab(search_files, row)",
     "INSERT INTO search_files (rowid, computer_name, fullpath) "
     "SELECT rowid, computer_name, fullpath FROM files WHERE rowid >= ?"},
    {"metadati_values", "id", "search_values", "search_values_vocab",
     "CREATE VIRTUAL TABLE search_values USING fts5(value, tokenize='trigram')",
     "CREATE VIRTUAL TABLE search_values_vocab USING fts5vocab(search_values, row)",
     "INSERT INTO search_values (rowid, value) SELECT id, value FROM metadati_values "
     "WHERE id >= ?"},
};

// Above this the rowids of new rows would no longer be sure to follow the
// largest one (SQLite then picks them at random).
const qint64 kRowidLimit = Q_INT64_C(1) << 62;

bool exec(QSqlDatabase db, const QString &sql) {
    QSqlQuery query(db);
    return query.exec(sql);
}

bool exec(QSqlDatabase db, const QString &sql, const QVariantList &values) {
    QSqlQuery query(db);
    if (!query.prepare(sql))
        return false;
    for (const QVariant &value : values)
        query.addBindValue(value);
    return query.exec();
}

bool exec(QSqlDatabase db, const char *sql, qint64 bound) {
    return exec(db, QLatin1String(sql), {bound});
}

// The first column of the one row of a query.
std::optional<qint64> scalar(QSqlDatabase db, const QString &sql, const QVariantList &values = {}) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.prepare(sql))
        return std::nullopt;
    for (const QVariant &value : values)
        query.addBindValue(value);
    if (!query.exec() || !query.next())
        return std::nullopt;
    return query.value(0).toLongLong();
}

bool createTriggers(QSqlDatabase db) {
    for (const char *statement : kTriggers) {
        if (!exec(db, QLatin1String(statement)))
            return false;
    }
    return true;
}

// Brings the full-text table of `m` in step after a bulk write: the rows
// above `lastKey` are new; the rows at or below it that are gone (replaced
// or deleted) left their entries behind.
bool catchUp(QSqlDatabase db, const Mirrored &m, qint64 lastKey, qint64 rowsBefore) {
    const QString table = QLatin1String(m.table), key = QLatin1String(m.key);
    const std::optional<qint64> kept = scalar(
        db, QStringLiteral("SELECT count(*) FROM %1 WHERE %2 <= ?").arg(table, key), {lastKey});
    const std::optional<qint64> total =
        scalar(db, QStringLiteral("SELECT count(*) FROM %1").arg(table));
    if (!kept || !total)
        return false;
    const qint64 gone = rowsBefore - *kept;
    if (gone > 0 && gone * 4 > *total) {
        // Removing that many entries one by one costs more than a new index.
        return exec(db, QStringLiteral("DROP TABLE %1").arg(QLatin1String(m.vocab))) &&
               exec(db, QStringLiteral("DROP TABLE %1").arg(QLatin1String(m.fts))) &&
               exec(db, QLatin1String(m.createFts)) && exec(db, QLatin1String(m.createVocab)) &&
               exec(db, m.fill, std::numeric_limits<qint64>::min());
    }
    if (gone > 0 &&
        !exec(db,
              QStringLiteral("DELETE FROM %1 WHERE rowid <= ? AND rowid NOT IN (SELECT %2 FROM "
                             "%3 WHERE %2 <= ?)")
                  .arg(QLatin1String(m.fts), key, table),
              {lastKey, lastKey}))
        return false;
    return exec(db, m.fill, lastKey + 1);
}

bool createAll(QSqlDatabase db) {
    for (const Mirrored &m : kMirrored) {
        if (!exec(db, QLatin1String(m.createFts)) || !exec(db, QLatin1String(m.createVocab)))
            return false;
    }
    for (const char *statement : kIndexes) {
        if (!exec(db, QLatin1String(statement)))
            return false;
    }
    if (!createTriggers(db))
        return false;
    for (const Mirrored &m : kMirrored) {
        if (!exec(db, m.fill, std::numeric_limits<qint64>::min()))
            return false;
    }
    return true;
}

void dropAll(QSqlDatabase db) {
    for (const QString &name : kObjects) {
        QSqlQuery query(db);
        query.prepare(QStringLiteral("SELECT type FROM sqlite_master WHERE name = ?"));
        query.addBindValue(name);
        if (!query.exec() || !query.next())
            continue;
        const QString type = query.value(0).toString();
        query.finish();
        exec(db, QStringLiteral("DROP %1 IF EXISTS %2").arg(type.toUpper(), name));
    }
}

// Runs of `word` between the LIKE wildcards, as UCS-4 (the tokenizer counts
// code points).
QList<QList<uint>> literalRuns(const QString &word) {
    QList<QList<uint>> runs{{}};
    for (const uint c : word.toUcs4()) {
        if (c == '%' || c == '_')
            runs.append(QList<uint>());
        else
            runs.last().append(c);
    }
    QList<QList<uint>> result;
    for (const QList<uint> &run : runs) {
        if (run.size() >= 3)
            result.append(run);
    }
    return result;
}

} // namespace

const QStringList &SearchIndex::objectNames() {
    return kObjects;
}

bool SearchIndex::isReady(QSqlDatabase db) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    if (!query.exec(QStringLiteral("SELECT name FROM sqlite_master WHERE name LIKE 'search\\_%' "
                                   "ESCAPE '\\'")))
        return false;
    int found = 0;
    while (query.next())
        found += kObjects.contains(query.value(0).toString()) ? 1 : 0;
    return found == kObjects.size();
}

bool SearchIndex::ensure(QSqlDatabase db) {
    if (!db.isOpen())
        return false;
    exec(db, QStringLiteral("PRAGMA recursive_triggers = ON"));
    if (isReady(db))
        return true;
    // All or nothing: a half-made index would be taken for a ready one.
    if (!exec(db, QStringLiteral("SAVEPOINT search_index")))
        return false;
    dropAll(db);
    if (!createAll(db)) {
        exec(db, QStringLiteral("ROLLBACK TO search_index"));
        exec(db, QStringLiteral("RELEASE search_index"));
        return false;
    }
    return exec(db, QStringLiteral("RELEASE search_index"));
}

bool SearchIndex::suspend(QSqlDatabase db, Bulk *bulk) {
    *bulk = Bulk();
    if (!isReady(db))
        return true; // nothing to keep in step
    Bulk noted;
    for (int i = 0; i < 2; ++i) {
        const Mirrored &m = kMirrored[i];
        const std::optional<qint64> last =
            scalar(db, QStringLiteral("SELECT coalesce(max(%1), 0) FROM %2")
                           .arg(QLatin1String(m.key), QLatin1String(m.table)));
        const std::optional<qint64> rows =
            scalar(db, QStringLiteral("SELECT count(*) FROM %1").arg(QLatin1String(m.table)));
        if (!last || !rows)
            return false;
        if (*last >= kRowidLimit)
            return true; // the triggers stay
        noted.lastKey[i] = *last;
        noted.rows[i] = *rows;
    }
    for (int i = 0; i < int(std::size(kTriggers)); ++i) {
        if (!exec(db, QStringLiteral("DROP TRIGGER %1").arg(kObjects.at(i))))
            return false;
    }
    noted.active = true;
    *bulk = noted;
    return true;
}

bool SearchIndex::resume(QSqlDatabase db, const Bulk &bulk) {
    if (!bulk.active)
        return true;
    for (int i = 0; i < 2; ++i) {
        if (!catchUp(db, kMirrored[i], bulk.lastKey[i], bulk.rows[i]))
            return false;
    }
    return createTriggers(db);
}

QString SearchIndex::matchExpression(const QString &word) {
    QStringList phrases;
    for (const QList<uint> &run : literalRuns(word)) {
        QString text =
            QString::fromUcs4(reinterpret_cast<const char32_t *>(run.constData()), run.size());
        text.replace(QLatin1Char('"'), QLatin1String("\"\""));
        phrases.append(QLatin1Char('"') + text + QLatin1Char('"'));
    }
    return phrases.join(QLatin1String(" AND "));
}

qint64 SearchIndex::estimate(QSqlDatabase db, const QString &word) {
    QSqlQuery query(db);
    query.setForwardOnly(true);
    query.prepare(QStringLiteral(
        "SELECT (SELECT coalesce(sum(doc), 0) FROM search_files_vocab WHERE term = ?) + "
        "(SELECT coalesce(sum(doc), 0) FROM search_values_vocab WHERE term = ?)"));
    qint64 best = -1;
    for (const QList<uint> &run : literalRuns(word)) {
        for (int i = 0; i + 3 <= run.size(); ++i) {
            QString trigram;
            for (int k = i; k < i + 3; ++k)
                trigram += QString::fromUcs4(reinterpret_cast<const char32_t *>(&run[k]), 1);
            query.bindValue(0, trigram.toLower());
            query.bindValue(1, trigram.toLower());
            if (!query.exec() || !query.next())
                return -1;
            const qint64 rows = query.value(0).toLongLong();
            if (best < 0 || rows < best)
                best = rows;
        }
    }
    if (best < 0)
        return best;
    // Class names are not in the index: their documents are candidates too.
    QSqlQuery classes(db);
    classes.setForwardOnly(true);
    classes.prepare(QStringLiteral("SELECT count(*) FROM files WHERE folderid IN (SELECT idfolder "
                                   "FROM folders WHERE name LIKE '%' || ? || '%')"));
    classes.addBindValue(word);
    if (!classes.exec() || !classes.next())
        return -1;
    return best + classes.value(0).toLongLong();
}
