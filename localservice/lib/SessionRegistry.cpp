#include "SessionRegistry.h"

#include <QRandomGenerator>

QByteArray SessionRegistry::open(const QString &user, bool endOthers) {
    dropExpired();
    if (endOthers) {
        for (auto it = m_sessions.begin(); it != m_sessions.end();) {
            if (it->user == user)
                it = m_sessions.erase(it);
            else
                ++it;
        }
    }
    QByteArray raw(24, Qt::Uninitialized);
    for (char &c : raw)
        c = char(QRandomGenerator::system()->bounded(256));
    const QByteArray id = raw.toHex();
    m_sessions.insert(id, Session{user, QDateTime::currentDateTimeUtc()});
    return id;
}

QString SessionRegistry::use(const QByteArray &id) {
    dropExpired();
    auto it = m_sessions.find(id);
    if (it == m_sessions.end())
        return QString();
    it->lastUse = QDateTime::currentDateTimeUtc();
    return it->user;
}

void SessionRegistry::end(const QByteArray &id) {
    m_sessions.remove(id);
}

void SessionRegistry::endAll() {
    m_sessions.clear();
}

int SessionRegistry::count() {
    dropExpired();
    return int(m_sessions.size());
}

void SessionRegistry::dropExpired() {
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-m_lifetimeSeconds);
    for (auto it = m_sessions.begin(); it != m_sessions.end();) {
        if (it->lastUse < limit)
            it = m_sessions.erase(it);
        else
            ++it;
    }
}
