#pragma once

#include <QObject>
#include <QString>

class QLocalServer;
class QLocalSocket;

// Receives the requests of other programs of this user while someone is
// signed in: one message per connection, read as it comes, so that a slow,
// silent or hostile sender never holds the window up.
class LocalSocketIpcServer : public QObject {
    Q_OBJECT
public:
    // A sender has this long to deliver its whole message.
    static constexpr int ReadLimitMs = 5000;
    // Connections beyond this many at once are closed as they come.
    static constexpr int MaxOpenConnections = 32;

    LocalSocketIpcServer(const QString &serverName, QObject *parent);

    bool isListening() const;
    // Where it listens (a socket path outside Windows).
    QString fullServerName() const;

signals:
    // One per message read, from the event loop, after its connection is done.
    void messageReceived(const QString &message);

public slots:
    void socket_new_connection();

private:
    void readFrom(QLocalSocket *socket);

    QLocalServer *m_server;
    int m_open = 0;
};
