#include "FileListQuery.h"

#include "storage/SearchIndex.h"

#include <QSqlQuery>
#include <QSqlRecord>
#include <QStringList>

#include <algorithm>

namespace {

const QString kColumns =
    QStringLiteral(" hash, fullpath, computer_name, fullpath, name, %1 as tsconserve, token, "
                   "files.folderid FROM files INNER JOIN folders ON idfolder = folderid WHERE "
                   "token != '' AND ");

const QString kLike = QStringLiteral("'%' || ? || '%'");

// Whether `hash`'s rows in the search view hold a value containing the word
// (bound four times), branch by branch of the view: class name, computer
// name, full path, field values of known fields.
const QString kWordCheck =
    QStringLiteral("(EXISTS (SELECT 1 FROM files f WHERE f.hash = files.hash AND "
                   "(f.computer_name LIKE %1 OR f.fullpath LIKE %1)) OR EXISTS (SELECT 1 FROM "
                   "files f JOIN folders d ON f.folderid = d.idfolder WHERE f.hash = files.hash "
                   "AND d.name LIKE %1) OR EXISTS (SELECT 1 FROM metadati_values v JOIN metadati "
                   "m ON m.idmetadato = v.idmetadata WHERE v.hash = files.hash AND v.value LIKE "
                   "%1))")
        .arg(kLike);

// A superset of the documents holding the word: index hits of the texts of
// `files` and of the field values, and the classes by name (few rows). Binds
// the match expression twice and the word once.
const QString kCandidates = QStringLiteral(
    "files.hash IN (SELECT hash FROM files WHERE rowid IN (SELECT rowid FROM search_files WHERE "
    "search_files MATCH ?) UNION ALL SELECT hash FROM metadati_values WHERE id IN (SELECT rowid "
    "FROM search_values WHERE search_values MATCH ?) UNION ALL SELECT hash FROM files WHERE "
    "folderid IN (SELECT idfolder FROM folders WHERE name LIKE '%' || ? || '%'))");

} // namespace

QString FileListQuery::dateExpression() {
    return QStringLiteral(
        "datetime(substr(tsconserve,7,4)||'-'||substr(tsconserve,4,2)||'-'||substr(tsconserve,1,"
        "2)||' '||substr(tsconserve,12,2)||':'||substr(tsconserve,15,2)||':'||substr(tsconserve,"
        "18,2))");
}

QStringList FileListQuery::words(const QString &text) {
    return text.split(QLatin1Char(' '), Qt::SkipEmptyParts);
}

FileListQuery::Statement FileListQuery::fullLoad(const QString &idBuckets,
                                                 const QString &pathFilter) {
    const QString date = dateExpression();
    return {QStringLiteral("SELECT hash, fullpath as filename, computer_name, fullpath, name, ") +
                date +
                QStringLiteral(" as tsconserve, token, files.folderid FROM files INNER JOIN "
                               "folders ON idfolder = folderid WHERE token != '' AND fullpath "
                               "LIKE ? AND folders.idbuckets = ? AND token != '' ORDER BY ") +
                date + QStringLiteral(" DESC"),
            {pathFilter, idBuckets}};
}

QString FileListQuery::orderClause(Order order) {
    return order == Order::NewestFirst
               ? QStringLiteral(" ORDER BY ") + dateExpression() + QStringLiteral(" DESC")
               : QString();
}

FileListQuery::Statement FileListQuery::search(const QString &text, const QString &idBuckets,
                                               const QString &pathFilter, Order order) {
    const QString date = dateExpression();
    const QString tail =
        QStringLiteral("fullpath LIKE ? AND folders.idbuckets = ?") + orderClause(order);
    if (text.isEmpty())
        return {QLatin1String("SELECT") + kColumns.arg(date) + tail, {pathFilter, idBuckets}};

    QString subQuery;
    QVariantList values;
    const QStringList parts = text.split(QLatin1Char(' '), Qt::KeepEmptyParts);
    for (int k = 0; k < parts.size(); ++k) {
        if (parts.at(k).isEmpty())
            continue;
        const QString select = QStringLiteral(
            "(SELECT hash FROM metadati_values_complete WHERE value LIKE '%' || ? || '%') ");
        if (values.isEmpty()) {
            subQuery = QStringLiteral("SELECT t0.hash FROM ") + select + QStringLiteral("t0 ");
        } else {
            const QString alias = QStringLiteral("t") + QString::number(k);
            subQuery += QStringLiteral(" JOIN ") + select + alias +
                        QStringLiteral(" ON t0.hash = ") + alias + QStringLiteral(".hash ");
        }
        values.append(parts.at(k));
    }
    values << pathFilter << idBuckets;
    return {QLatin1String("SELECT ") + kColumns.arg(date) + QStringLiteral("(files.hash IN (") +
                subQuery + QStringLiteral(")) AND ") + tail,
            values};
}

FileListQuery::Statement FileListQuery::indexedSearch(QSqlDatabase db, const QString &text,
                                                      const QString &idBuckets,
                                                      const QString &pathFilter, Order order) {
    const QStringList list = words(text);
    if (list.isEmpty() || !SearchIndex::isReady(db))
        return search(text, idBuckets, pathFilter, order);
    // The word whose rarest trigram is rarest; one word that can use the
    // index needs no counting.
    QList<int> usable;
    for (int i = 0; i < list.size(); ++i)
        if (!SearchIndex::matchExpression(list.at(i)).isEmpty())
            usable << i;
    int chosen = usable.size() == 1 ? usable.first() : -1;
    qint64 fewest = -1;
    for (int i = 0; usable.size() > 1 && i < usable.size(); ++i) {
        const qint64 rows = SearchIndex::estimate(db, list.at(usable.at(i)));
        if (rows >= 0 && (fewest < 0 || rows < fewest)) {
            fewest = rows;
            chosen = usable.at(i);
        }
    }
    if (chosen < 0)
        return search(text, idBuckets, pathFilter, order);

    const QString date = dateExpression();
    const QString match = SearchIndex::matchExpression(list.at(chosen));
    QString sql = QLatin1String("SELECT") + kColumns.arg(date) + kCandidates;
    QVariantList values{match, match, list.at(chosen)};
    for (const QString &word : list) {
        sql += QStringLiteral(" AND ") + kWordCheck;
        values << word << word << word << word;
    }
    sql += QStringLiteral(" AND fullpath LIKE ? AND folders.idbuckets = ?") + orderClause(order);
    values << pathFilter << idBuckets;
    return {sql, values};
}

FileListQuery::Statement FileListQuery::firstMatches(const QString &text, const QString &idBuckets,
                                                     const QString &pathFilter, int limit) {
    QString sql = QLatin1String("SELECT") + kColumns.arg(dateExpression());
    QVariantList values;
    for (const QString &word : words(text)) {
        sql += kWordCheck + QStringLiteral(" AND ");
        values << word << word << word << word;
    }
    sql += QStringLiteral("fullpath LIKE ? AND folders.idbuckets = ? LIMIT ?");
    values << pathFilter << idBuckets << limit;
    return {sql, values};
}

FileListQuery::Statement FileListQuery::details(const QString &hash) {
    const QString sql = QStringLiteral(
        "SELECT idmetadata, key, value, hash FROM (SELECT -5 as idmetadata, 'Token' as key, token "
        "as value, hash from files where hash=? AND token != '' UNION SELECT -4 as idmetadata, "
        "'Conservato da' as key, username as value, hash from files where hash=? AND token != '' "
        "UNION SELECT -3 as idmetadata, 'Conservato il' as key, tsconserve as value, hash from "
        "files where hash=? AND token != '' UNION SELECT -2 as idmetadata, 'Computer name' as "
        "key, computer_name as value, hash from files where hash=? AND token != ''UNION SELECT -1 "
        "as idmetadata, 'Ultima modifica' as key, last_modified as value, hash from files where "
        "hash=? AND token != '' UNION SELECT  idmetadata, nome as key, value, hash FROM "
        "metadati_values INNER JOIN metadati ON metadati.idmetadato = metadati_values.idmetadata "
        "WHERE metadati_values.hash = ?) ORDER BY idmetadata ASC");
    return {sql, {hash, hash, hash, hash, hash, hash}};
}

FileListQuery::Rows FileListQuery::read(QSqlQuery &query) {
    Rows rows;
    const int columns = query.record().count();
    while (query.next()) {
        QVariantList row;
        row.reserve(columns);
        for (int c = 0; c < columns; ++c)
            row << query.value(c);
        rows << row;
    }
    return rows;
}

void FileListQuery::sortNewestFirst(Rows &rows) {
    // The column holds the time as an SQLite date-time, ordered as text; ties
    // by fingerprint, so that rows found in another order come out the same.
    std::sort(rows.begin(), rows.end(), [](const QVariantList &a, const QVariantList &b) {
        const int date = a.at(DateColumn).toString().compare(b.at(DateColumn).toString());
        return date != 0 ? date > 0 : a.at(0).toString() < b.at(0).toString();
    });
}

bool FileListQuery::exec(QSqlQuery &query, const Statement &statement) {
    if (!query.prepare(statement.sql))
        return false;
    for (const QVariant &value : statement.values)
        query.addBindValue(value);
    return query.exec();
}
