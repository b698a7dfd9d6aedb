#pragma once

#include <QString>
#include <QThread>

class QLocalSocket;
class QTimer;

// One accepted connection of a later instance. The thread greets the peer,
// then acknowledges and reports every message it frames until the peer leaves.
// The socket is created, used and destroyed on this thread only.
class LocalThread : public QThread {
    Q_OBJECT
public:
    // How long a frame that has begun may stay incomplete before the
    // connection is dropped: a stalled peer must not hold the thread for ever.
    static constexpr int StallLimitMs = 3000;
    // Bound on writing the greeting or an acknowledgement.
    static constexpr int WriteTimeoutMs = 500;

    LocalThread(quintptr socketDescriptor, const QString &message, QObject *parent);
    ~LocalThread() override;

signals:
    void messageReceived(const QString &message);

protected:
    void run() override;

private slots:
    void readyRead();

private:
    void giveUp();

    const quintptr m_socketDescriptor;
    const QString m_message;
    // Valid only while run() is executing, and only on this thread.
    QLocalSocket *m_socket = nullptr;
    QTimer *m_stallTimer = nullptr;
};
