#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QHash>
#include <QString>

// Signed-in sessions, each named by a random cookie value. A session lapses
// after `lifetime` seconds without use.
class SessionRegistry {
public:
    void setLifetime(int seconds) { m_lifetimeSeconds = seconds; }
    int lifetime() const { return m_lifetimeSeconds; }

    // Opens a session for `user`; `endOthers` closes the user's other ones.
    QByteArray open(const QString &user, bool endOthers);
    // The user of a live session (and refreshes it), or an empty text.
    QString use(const QByteArray &id);
    void end(const QByteArray &id);
    void endAll();
    int count();

private:
    void dropExpired();

    struct Session {
        QString user;
        QDateTime lastUse;
    };
    QHash<QByteArray, Session> m_sessions;
    int m_lifetimeSeconds = 1800;
};
