#include "QueryRows.h"

#include <QSqlRecord>
#include <QVariant>

QStringList joinedRows(QSqlQuery &query) {
    QStringList result;
    while (query.next()) {
        QStringList columns;
        for (int i = 0; i < query.record().count(); ++i)
            columns << query.value(i).toString();
        result << columns.join(QLatin1Char('|'));
    }
    return result;
}
