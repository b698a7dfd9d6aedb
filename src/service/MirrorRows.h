#pragma once

#include "storage/SearchIndex.h"

#include <QByteArray>
#include <QSqlDatabase>
#include <QString>
#include <QStringView>

struct sqlite3_stmt;
class QDomElement;
class QXmlStreamAttributes;

// Writes the rows of a synchronisation body in document order, one element at
// a time, inside the caller's transaction. The order of the statements across
// tables does not matter; within a table it is the body's, so that the first
// class field and the last value of a key win.
class MirrorRows {
public:
    static constexpr int kMaxColumns = 11;

    // One element's row: which table, and its values in statement order.
    struct Row {
        int kind = -1;
        QString values[kMaxColumns];
    };

    // Tells the elements of a body that are rows, in document order: a field
    // counts only inside a class, once however deeply it is nested.
    class Picker {
    public:
        // The start of an element below the body; true when it is a row.
        bool pick(QStringView tag, const QXmlStreamAttributes &attributes, Row *row);
        bool pick(const QDomElement &element, Row *row);
        void leave(QStringView tag);

    private:
        template <typename Attribute> bool take(QStringView tag, Attribute attribute, Row *row);
        int m_folderDepth = 0;
    };

    explicit MirrorRows(QSqlDatabase db);
    ~MirrorRows();
    MirrorRows(const MirrorRows &) = delete;
    MirrorRows &operator=(const MirrorRows &) = delete;

    // Empties profiles, policies, classes and fields, and prepares the statements.
    bool begin();
    // False when the database failed (a row that merely violates a key is skipped).
    bool write(const Row &row);
    // Brings the search index in step with what was written.
    bool end();

private:
    static constexpr int kKinds = 6; // buckets, policies, classes, fields, documents, values
    QSqlDatabase m_db;
    sqlite3_stmt *m_statements[kKinds] = {};
    QByteArray m_texts[kMaxColumns]; // bound until the row is written
    int m_rows = 0;
    SearchIndex::Bulk m_bulk;
};
