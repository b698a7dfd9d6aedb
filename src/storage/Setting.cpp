#include "Setting.h"

#include "ServiceUrl.h"

#include <QSqlQuery>
#include <QVariant>

Setting::Setting(QObject *parent)
    : QObject(parent) {}

QString Setting::value(const QString &key) {
    QString result;
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("SELECT value FROM settings WHERE key = ?"));
        query.addBindValue(key);
        if (query.exec() && query.next())
            result = query.value(0).toString();
    }
    m_database.close();
    return result;
}

void Setting::setValue(const QString &key, const QString &value) {
    const QString stored =
        key == QLatin1String("url") ? ServiceUrl::withoutTrailingSlashes(value) : value;
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("REPLACE INTO settings (key, value) VALUES (?, ?)"));
        query.addBindValue(key);
        query.addBindValue(stored);
        query.exec();
    }
    m_database.close();
}

void Setting::removeValue(const QString &key) {
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("DELETE FROM settings WHERE key = ?"));
        query.addBindValue(key);
        query.exec();
    }
    m_database.close();
}
