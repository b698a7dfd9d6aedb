#include "BatchInsert.h"

#include <QSqlError>
#include <QStringList>

BatchInsert::BatchInsert(const QSqlDatabase &db, const QString &head, int columns, int rowsPerBatch)
    : m_db(db)
    , m_head(head)
    , m_columns(columns)
    , m_rowsPerBatch(rowsPerBatch)
    , m_full(db) {
    m_full.prepare(statement(rowsPerBatch));
}

QString BatchInsert::statement(int rows) const {
    QStringList marks(m_columns, QStringLiteral("?"));
    const QString row = QLatin1Char('(') + marks.join(QLatin1Char(',')) + QLatin1Char(')');
    return m_head + QStringLiteral(" VALUES ") + QStringList(rows, row).join(QLatin1Char(','));
}

bool BatchInsert::add(const QVariantList &row) {
    if (row.size() != m_columns) {
        m_error = QStringLiteral("row of %1 values for %2 columns").arg(row.size()).arg(m_columns);
        return false;
    }
    m_pending += row;
    return m_pending.size() < m_columns * m_rowsPerBatch || exec(m_full);
}

bool BatchInsert::flush() {
    if (m_pending.isEmpty())
        return true;
    QSqlQuery rest(m_db);
    if (!rest.prepare(statement(int(m_pending.size() / m_columns)))) {
        m_error = rest.lastError().text();
        return false;
    }
    return exec(rest);
}

bool BatchInsert::exec(QSqlQuery &query) {
    for (int i = 0; i < m_pending.size(); ++i)
        query.bindValue(i, m_pending.at(i));
    m_pending.clear();
    if (!query.exec()) {
        m_error = query.lastError().text();
        return false;
    }
    return true;
}
