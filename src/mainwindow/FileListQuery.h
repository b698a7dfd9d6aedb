#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QVariantList>

class QSqlQuery;

// The statements of the document page: the full list, the word-by-word
// search and a document's details. Profile, path pattern, words and
// fingerprint are always bound, never pasted into the SQL.
//
// Every list statement has the same eight columns: hash, full path (shown as
// the file name), computer name, full path (shown as the folder), class name,
// preservation time as an SQLite date-time, token, class id; newest first,
// unless the search is asked for its rows as found.
class FileListQuery {
public:
    struct Statement {
        QString sql;
        QVariantList values;
    };
    // The rows of a list statement, each with its eight values.
    using Rows = QList<QVariantList>;
    enum class Order { NewestFirst, AsFound };
    static constexpr int DateColumn = 5;

    // The preservation time "dd/MM/yyyy hh:mm:ss" as an SQLite date-time,
    // for display and ordering.
    static QString dateExpression();

    // Every preserved document (non-empty token) of the profile.
    static Statement fullLoad(const QString &idBuckets, const QString &pathFilter);

    // The search with one self-join of the search view per word: a document
    // is listed when every word of `text` (split at single spaces, empty
    // parts skipped) occurs in one of its values, as LIKE '%word%' decides.
    // Empty text lists everything; a text of spaces only lists nothing.
    static Statement search(const QString &text, const QString &idBuckets,
                            const QString &pathFilter, Order order = Order::NewestFirst);

    // The same rows as search(), through the word index when the mirror has
    // it: the word whose rarest trigram is rarest picks the candidates, and
    // every word is then checked on the mirror's own rows exactly as the
    // search view would. Falls back to search() when no word can use the
    // index (all shorter than three characters between wildcards) or the
    // index is missing.
    static Statement indexedSearch(QSqlDatabase db, const QString &text, const QString &idBuckets,
                                   const QString &pathFilter, Order order = Order::NewestFirst);

    // Up to `limit` rows of the search, in the mirror's order: each document
    // of the profile checked word by word as indexedSearch() does, without
    // its candidates. When a word is in many documents these come at once.
    static Statement firstMatches(const QString &text, const QString &idBuckets,
                                  const QString &pathFilter, int limit);

    // Record data (only for a preserved document) then field values, by id.
    static Statement details(const QString &hash);

    // Prepares, binds in order and executes on `query`'s connection.
    static bool exec(QSqlQuery &query, const Statement &statement);

    // The non-empty words of a search text.
    static QStringList words(const QString &text);

    // Every row of an executed list statement (those before it stopped, if it did).
    static Rows read(QSqlQuery &query);
    // As a NewestFirst statement would have given them, ties in one order.
    static void sortNewestFirst(Rows &rows);

private:
    static QString orderClause(Order order);
};
