#pragma once

#include <QLocalServer>
#include <QString>

// The single-instance server of the first instance: every connection of a
// later instance is served on a LocalThread of its own.
class ThreadedLocalServer : public QLocalServer {
    Q_OBJECT
public:
    // message greets every connection and acknowledges every message.
    ThreadedLocalServer(const QString &message, QObject *parent);

signals:
    void messageReceived(const QString &message);

protected:
    void incomingConnection(quintptr socketDescriptor) override;

private:
    const QString m_message;
};
