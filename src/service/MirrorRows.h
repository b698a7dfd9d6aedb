#pragma once

#include "storage/SearchIndex.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStringView>

class QDomElement;
class QXmlStreamAttributes;

// Writes the rows of a synchronisation body in document order, one element at
// a time, inside the caller's transaction. The order of the statements across
// tables does not matter; within a table it is the body's, so that the first
// class field and the last value of a key win. A field counts only inside a
// class, once however deeply it is nested.
class MirrorRows {
public:
    explicit MirrorRows(QSqlDatabase db);
    ~MirrorRows();
    MirrorRows(const MirrorRows &) = delete;
    MirrorRows &operator=(const MirrorRows &) = delete;

    // Empties profiles, policies, classes and fields, and prepares the statements.
    bool begin();
    // The start of an element below the body; false when the database failed
    // (a row that merely violates a key is skipped).
    bool enter(QStringView tag, const QXmlStreamAttributes &attributes);
    bool enter(const QDomElement &element);
    void leave(QStringView tag);
    // Brings the search index in step with what was written.
    bool end();

private:
    template <typename Attribute> bool write(QStringView tag, Attribute attribute);

    static constexpr int kKinds = 6; // buckets, policies, classes, fields, documents, values
    QSqlDatabase m_db;
    QSqlQuery m_queries[kKinds];
    int m_folderDepth = 0;
    int m_rows = 0;
    SearchIndex::Bulk m_bulk;
};
