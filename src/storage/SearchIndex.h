#pragma once

#include <QSqlDatabase>
#include <QString>
#include <QStringList>

// The word index of the document search: trigram full-text tables over the
// searchable texts of `files` and `metadati_values`, kept in step by
// triggers, plus the lookup indexes the search and the details need. It is an
// addition to the mirror's schema: made when missing, so older mirrors gain it,
// and rebuilt whenever a re-creation of the mirror's tables has dropped its
// triggers.
//
// The index only pre-selects candidates: the search still checks every word
// on the mirror's own rows, so a stale entry can never change a result; only
// a missing entry could, and entries can go missing only while the triggers
// are gone, which ensure() detects.
class SearchIndex {
public:
    // Creates (or re-creates and fills) the index when any of its parts is
    // missing, and turns on recursive triggers for this connection so that
    // rows replaced by INSERT OR REPLACE leave the index too. False when the
    // index cannot be made (for example SQLite without FTS5); the search then
    // works without it.
    static bool ensure(QSqlDatabase db);
    // Every part of the index is there (a cheap look at the schema).
    static bool isReady(QSqlDatabase db);

    // FTS5 query that matches at least every text containing `word` as SQLite
    // LIKE '%word%' would (ASCII case folded, "%" and "_" wildcards): its
    // literal runs of three characters or more as phrases joined by AND.
    // Empty when the word has no such run and the index cannot help.
    static QString matchExpression(const QString &word);
    // An upper bound of the candidates `word` gives: rows holding the rarest
    // of its trigrams, in both tables, plus the documents of the classes
    // whose name contains it. -1 when the word has no trigram.
    static qint64 estimate(QSqlDatabase db, const QString &word);

    // Large writes. The per-row triggers cost far more than bringing the
    // index in step once: suspend() notes where the rows of `files` and
    // `metadati_values` end and drops the triggers, resume() indexes the rows
    // added since and forgets those removed, then makes the triggers again.
    // Both belong inside the writer's transaction, so that a failure undoes
    // the index with the rows. In between, rows may only be inserted (new
    // rowids follow the largest one) or deleted; updates would go unseen.
    struct Bulk {
        bool active = false;
        qint64 lastKey[2] = {0, 0};
        qint64 rows[2] = {0, 0};
    };
    // False when the triggers could not be dropped: the transaction must be
    // rolled back. `bulk` stays inactive when there is no index to keep in
    // step or the rowids are too high to tell new rows apart.
    static bool suspend(QSqlDatabase db, Bulk *bulk);
    static bool resume(QSqlDatabase db, const Bulk &bulk);

    static const QStringList &objectNames();
};
