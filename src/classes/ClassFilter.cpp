#include "classes/ClassFilter.h"

#include <QSqlDriver>
#include <QSqlField>
#include <QSqlQuery>

namespace ClassFilter {

namespace {

const QString kEscapedLike = QStringLiteral(" LIKE ? ESCAPE '\\'");

QString quoted(const QSqlDatabase &db, const QString &text) {
    QSqlField field(QString(), QMetaType(QMetaType::QString));
    field.setValue(text);
    return db.driver()->formatValue(field);
}

} // namespace

QString containing(const QString &text) {
    QString pattern;
    pattern.reserve(text.size() + 2);
    pattern += QLatin1Char('%');
    for (const QChar c : text) {
        if (c == QLatin1Char('%') || c == QLatin1Char('_') || c == QLatin1Char('\\'))
            pattern += QLatin1Char('\\');
        pattern += c;
    }
    pattern += QLatin1Char('%');
    return pattern;
}

QString tableFilter(const QSqlDatabase &db, const QString &idBuckets, const QString &nameText) {
    QString filter = QStringLiteral("idbuckets=") + quoted(db, idBuckets);
    if (!nameText.isEmpty())
        filter += QStringLiteral(" AND name LIKE ") + quoted(db, containing(nameText)) +
                  QStringLiteral(" ESCAPE '\\'");
    return filter;
}

bool selectClasses(QSqlQuery &query, const QString &idBuckets, const QString &group,
                   const QString &nameText) {
    QString sql = QStringLiteral("SELECT idfolder, name FROM folders WHERE idbuckets = ?");
    if (!group.isEmpty())
        sql += QStringLiteral(" AND groups") + kEscapedLike;
    if (!nameText.isEmpty())
        sql += QStringLiteral(" AND name") + kEscapedLike;
    if (!query.prepare(sql))
        return false;
    query.addBindValue(idBuckets);
    if (!group.isEmpty())
        query.addBindValue(containing(group));
    if (!nameText.isEmpty())
        query.addBindValue(containing(nameText));
    return query.exec();
}

bool selectGroups(QSqlQuery &query, const QString &idBuckets) {
    if (!query.prepare(QStringLiteral(
            "SELECT * FROM (SELECT 'Tutti' as 'groups') UNION ALL SELECT * FROM (SELECT groups "
            "FROM folders WHERE idbuckets = ? GROUP BY groups ORDER BY groups ASC)")))
        return false;
    query.addBindValue(idBuckets);
    return query.exec();
}

} // namespace ClassFilter
