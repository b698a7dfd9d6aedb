#pragma once

#include <QObject>
#include <QString>

class QLocalSocket;
class ThreadedLocalServer;

// Keeps one running instance per key and user. The first instance holds a
// one-byte shared-memory segment as its marker and listens on a local socket
// of the same name; a later instance finds the marker and passes its messages
// to the first one over that socket.
class SingleApplication : public QObject {
    Q_OBJECT
public:
    static constexpr const char *ApplicationKey = "5C1F7A2E-3B8D-4E91-A6D2-7F0B9C4E1A36";

    // For the user running the process.
    SingleApplication(const QString &key, QObject *parent);
    SingleApplication(const QString &key, const QString &userName, QObject *parent);

    // True when another instance with the same key and user already runs.
    bool isRunning() const { return m_isRunning; }
    QString id() const { return m_id; }
    QString serverName() const { return m_serverName; }

    // The key without anything but ASCII letters and digits ("SADEFAULTKEY" if
    // nothing is left): it greets and acknowledges on the socket.
    static QString cleanKey(const QString &key);
    // Names both the shared-memory segment and the local socket.
    static QString serverNameFor(const QString &key, const QString &userName);

public slots:
    // Sends a message to the running instance; true only once it acknowledged.
    bool sendMessage(const QString &message, int timeout = 500);

signals:
    // In the first instance, once per message of a later one, on the GUI thread.
    void messageReceived(const QString &message);

private:
    bool claimMarker();
    ThreadedLocalServer *startServer();
    bool connectToRunning();
    bool socketIsStale() const;

    const QString m_id;
    const QString m_serverName;
    QLocalSocket *m_socket = nullptr;
    bool m_isRunning = false;
};
