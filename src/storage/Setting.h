#pragma once

#include "Database.h"

#include <QObject>
#include <QString>

#include <functional>

// Text values under text keys in the table "settings". No cache: every call
// opens the database, so a value written anywhere is seen everywhere at once.
// The two passwords live in the system keychain when there is one; the table
// keeps them only when there is none, and hands them over once there is.
class Setting : public QObject {
    Q_OBJECT
public:
    explicit Setting(QObject *parent = nullptr);

    // "" when the key is missing or the database cannot be opened.
    QString value(const QString &key);
    void setValue(const QString &key, const QString &value);
    void removeValue(const QString &key);

    // value() without waiting for the keychain: done runs at once when the
    // answer is at hand, otherwise later from the event loop, and not at all
    // when context is gone by then.
    void valueLater(const QString &key, QObject *context,
                    std::function<void(const QString &)> done);
    // Passwords kept in the table move into the keychain, and only then leave
    // the table. Asynchronous; a password that cannot move stays where it is.
    void moveSecretsToKeychain();

    static bool isSecret(const QString &key);

private:
    static QString forgetKey(const QString &key);
    // Whether the value is the keychain's to give, given the table's.
    bool inKeychain(const QString &key, const QString &stored);
    QString storedValue(const QString &key);
    void store(const QString &key, const QString &value);
    void deleteRow(const QString &key);
    // Deletes the row, overwriting its bytes in the file; when only is not
    // null, only while the row still holds that value. Whether it was there.
    bool erase(const QString &key, const QString &only = QString());

    Database m_database;
};
