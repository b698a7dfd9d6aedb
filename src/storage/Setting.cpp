#include "Setting.h"

#include "Keychain.h"
#include "ServiceUrl.h"

#include <QCoreApplication>
#include <QSqlQuery>
#include <QTimer>
#include <QVariant>

namespace {
constexpr int kLogRetryMs = 2000;
constexpr int kLogAttempts = 150;

// Copies the log into the file and empties it, without waiting for anyone:
// false while a reader of an older state or a writer is in the way.
bool emptyLog(const QSqlDatabase &db) {
    QSqlQuery query(db);
    const int wait =
        query.exec(QStringLiteral("PRAGMA busy_timeout")) && query.next() ? query.value(0).toInt() : 0;
    query.exec(QStringLiteral("PRAGMA busy_timeout = 0"));
    const bool emptied = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) &&
                         query.next() && query.value(0).toInt() == 0;
    query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(wait));
    return emptied;
}

// Tried again while someone is in the way, for a few minutes at most.
void emptyLogLater(int attempts) {
    QTimer::singleShot(kLogRetryMs, QCoreApplication::instance(), [attempts] {
        Database database;
        const bool emptied = database.open() && emptyLog(database.db);
        database.close();
        if (!emptied && attempts > 1)
            emptyLogLater(attempts - 1);
    });
}
} // namespace

Setting::Setting(QObject *parent)
    : QObject(parent) {}

bool Setting::isSecret(const QString &key) {
    return key == QLatin1String("password") || key == QLatin1String("proxyPassword");
}

QString Setting::value(const QString &key) {
    const QString stored = storedValue(key);
    if (!stored.isEmpty() || !isSecret(key))
        return stored;
    QString secret;
    Keychain::instance().readNow(key, &secret);
    return secret;
}

void Setting::setValue(const QString &key, const QString &value) {
    if (!isSecret(key)) {
        store(key, key == QLatin1String("url") ? ServiceUrl::withoutTrailingSlashes(value) : value);
        return;
    }
    if (value.isEmpty()) {
        removeValue(key);
        return;
    }
    // Without a keychain the password stays usable, as clear text in the file.
    if (Keychain::instance().writeNow(key, value) != Keychain::Outcome::Done) {
        store(key, value);
        return;
    }
    erase(key);
}

void Setting::removeValue(const QString &key) {
    if (isSecret(key)) {
        Keychain::instance().removeNow(key);
        erase(key);
        return;
    }
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("DELETE FROM settings WHERE key = ?"));
        query.addBindValue(key);
        query.exec();
    }
    m_database.close();
}

void Setting::valueLater(const QString &key, QObject *context,
                         std::function<void(const QString &)> done) {
    const QString stored = storedValue(key);
    if (!stored.isEmpty() || !isSecret(key)) {
        done(stored);
        return;
    }
    Keychain::instance().read(key, context,
                              [done](Keychain::Outcome, const QString &secret) { done(secret); });
}

void Setting::moveSecretsToKeychain() {
    for (const QString &key : {QStringLiteral("password"), QStringLiteral("proxyPassword")}) {
        const QString stored = storedValue(key);
        if (stored.isEmpty())
            continue;
        Keychain::instance().write(key, stored, this,
                                   [this, key, stored](Keychain::Outcome outcome, const QString &) {
                                       // A password changed meanwhile is not the one moved.
                                       if (outcome == Keychain::Outcome::Done)
                                           erase(key, stored);
                                   });
    }
}

QString Setting::storedValue(const QString &key) {
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

void Setting::store(const QString &key, const QString &value) {
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("REPLACE INTO settings (key, value) VALUES (?, ?)"));
        query.addBindValue(key);
        query.addBindValue(value);
        query.exec();
    }
    m_database.close();
}

void Setting::erase(const QString &key, const QString &only) {
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        // A deleted row's bytes would otherwise stay in the file's free space.
        query.exec(QStringLiteral("PRAGMA secure_delete = ON"));
        query.prepare(only.isNull()
                          ? QStringLiteral("DELETE FROM settings WHERE key = ?")
                          : QStringLiteral("DELETE FROM settings WHERE key = ? AND value = ?"));
        query.addBindValue(key);
        if (!only.isNull())
            query.addBindValue(only);
        const bool erased = query.exec() && query.numRowsAffected() > 0;
        query.exec(QStringLiteral("PRAGMA secure_delete = OFF"));
        // ...and the log would keep the page as it was until the next checkpoint.
        if (erased && !emptyLog(m_database.db))
            emptyLogLater(kLogAttempts);
    }
    m_database.close();
}
