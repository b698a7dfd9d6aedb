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
    const int wait = query.exec(QStringLiteral("PRAGMA busy_timeout")) && query.next()
                         ? query.value(0).toInt()
                         : 0;
    query.exec(QStringLiteral("PRAGMA busy_timeout = 0"));
    const bool emptied = query.exec(QStringLiteral("PRAGMA wal_checkpoint(TRUNCATE)")) &&
                         query.next() && query.value(0).toInt() == 0;
    query.exec(QStringLiteral("PRAGMA busy_timeout = %1").arg(wait));
    return emptied;
}

// Tries left to empty the log; one is pending while there are any, and it
// serves every erase before it.
int logTriesLeft = 0;

void tryEmptyingLog() {
    QTimer::singleShot(kLogRetryMs, QCoreApplication::instance(), [] {
        Database database;
        const bool emptied = database.open() && emptyLog(database.db);
        database.close();
        logTriesLeft = emptied ? 0 : logTriesLeft - 1;
        if (logTriesLeft > 0)
            tryEmptyingLog();
    });
}

// Tried again while someone is in the way, for a few minutes at most.
void emptyLogLater() {
    const bool trying = logTriesLeft > 0;
    logTriesLeft = kLogAttempts;
    if (!trying)
        tryEmptyingLog();
}
} // namespace

Setting::Setting(QObject *parent)
    : QObject(parent) {}

bool Setting::isSecret(const QString &key) {
    return key == QLatin1String("password") || key == QLatin1String("proxyPassword");
}

// Marks a password the keychain may still hold though the user had it
// forgotten: the keychain had not answered the removal.
QString Setting::forgetKey(const QString &key) {
    return key + QLatin1String("ToForget");
}

bool Setting::inKeychain(const QString &key, const QString &stored) {
    return stored.isEmpty() && isSecret(key) && storedValue(forgetKey(key)).isEmpty();
}

QString Setting::value(const QString &key) {
    const QString stored = storedValue(key);
    if (!inKeychain(key, stored))
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
    deleteRow(forgetKey(key));
}

void Setting::removeValue(const QString &key) {
    if (!isSecret(key)) {
        deleteRow(key);
        return;
    }
    // A removal still on its way is remembered until the keychain confirms
    // it, so that the entry is not read back meanwhile and its removal is
    // asked again at the next showing of the login, in this run or a later one.
    const Keychain::Outcome outcome = Keychain::instance().removeNow(key);
    if (outcome == Keychain::Outcome::Pending)
        store(forgetKey(key), QStringLiteral("1"));
    else if (outcome == Keychain::Outcome::Done)
        deleteRow(forgetKey(key));
    erase(key);
}

void Setting::valueLater(const QString &key, QObject *context,
                         std::function<void(const QString &)> done) {
    const QString stored = storedValue(key);
    if (!inKeychain(key, stored)) {
        done(stored);
        return;
    }
    Keychain::instance().read(key, context,
                              [done](Keychain::Outcome, const QString &secret) { done(secret); });
}

void Setting::moveSecretsToKeychain() {
    for (const QString &key : {QStringLiteral("password"), QStringLiteral("proxyPassword")}) {
        const QString stored = storedValue(key);
        if (!stored.isEmpty()) {
            Keychain::instance().write(
                key, stored, this, [this, key, stored](Keychain::Outcome outcome, const QString &) {
                    // A password changed or forgotten meanwhile is not
                    // the one moved.
                    if (outcome == Keychain::Outcome::Done && erase(key, stored))
                        deleteRow(forgetKey(key));
                });
        } else if (!storedValue(forgetKey(key)).isEmpty()) {
            Keychain::instance().remove(key, this,
                                        [this, key](Keychain::Outcome outcome, const QString &) {
                                            if (outcome == Keychain::Outcome::Done)
                                                deleteRow(forgetKey(key));
                                        });
        }
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

void Setting::deleteRow(const QString &key) {
    if (m_database.open()) {
        QSqlQuery query(m_database.db);
        query.prepare(QStringLiteral("DELETE FROM settings WHERE key = ?"));
        query.addBindValue(key);
        query.exec();
    }
    m_database.close();
}

bool Setting::erase(const QString &key, const QString &only) {
    bool erased = false;
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
        erased = query.exec() && query.numRowsAffected() > 0;
        query.exec(QStringLiteral("PRAGMA secure_delete = OFF"));
        // ...and the log would keep the page as it was until the next checkpoint.
        if (erased && !emptyLog(m_database.db))
            emptyLogLater();
    }
    m_database.close();
    return erased;
}
