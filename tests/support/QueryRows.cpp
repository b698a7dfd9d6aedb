#include "QueryRows.h"

#include "storage/Database.h"

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

QStringList mirrorRows(const QString &sql) {
    QStringList out;
    Database database;
    database.open();
    {
        QSqlQuery q(database.db);
        if (!q.exec(sql))
            out << QStringLiteral("ERROR");
        out << joinedRows(q);
    }
    database.close();
    return out;
}
