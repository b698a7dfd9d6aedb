#pragma once

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QString>
#include <QVariantList>

// Inserts many rows with one multi-row statement per batch: the per-
// statement cost of the SQL layer, not SQLite, dominates single-row inserts.
class BatchInsert {
public:
    // `head` is "INSERT INTO t (a, b, c)"; every row has `columns` values.
    BatchInsert(const QSqlDatabase &db, const QString &head, int columns, int rowsPerBatch);

    bool add(const QVariantList &row);
    // Writes the rows still pending.
    bool flush();
    QString error() const { return m_error; }

private:
    QString statement(int rows) const;
    bool exec(QSqlQuery &query);

    QSqlDatabase m_db;
    QString m_head;
    int m_columns;
    int m_rowsPerBatch;
    QVariantList m_pending;
    QSqlQuery m_full;
    QString m_error;
};
