#pragma once

#include "Database.h"

#include <QObject>
#include <QString>

// Text values under text keys in the table "settings". No cache: every call
// opens the database, so a value written anywhere is seen everywhere at once.
class Setting : public QObject {
    Q_OBJECT
public:
    explicit Setting(QObject *parent = nullptr);

    // "" when the key is missing or the database cannot be opened.
    QString value(const QString &key);
    void setValue(const QString &key, const QString &value);
    void removeValue(const QString &key);

private:
    Database m_database;
};
