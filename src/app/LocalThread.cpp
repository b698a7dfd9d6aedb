#include "app/LocalThread.h"

#include "app/FramedMessage.h"

#include <QLocalSocket>
#include <QTimer>

LocalThread::LocalThread(quintptr socketDescriptor, const QString &message, QObject *parent)
    : QThread(parent)
    , m_socketDescriptor(socketDescriptor)
    , m_message(message) {}

LocalThread::~LocalThread() {
    // The server may go away while a peer is still connected.
    quit();
    wait();
}

void LocalThread::run() {
    QLocalSocket socket;
    QTimer stallTimer;
    stallTimer.setSingleShot(true);
    stallTimer.setInterval(StallLimitMs);
    m_socket = &socket;
    m_stallTimer = &stallTimer;

    // Direct connections: the handlers run here, on the thread that owns the socket.
    connect(&socket, &QLocalSocket::readyRead, this, &LocalThread::readyRead, Qt::DirectConnection);
    connect(&socket, &QLocalSocket::disconnected, this, &QThread::quit, Qt::DirectConnection);
    connect(&stallTimer, &QTimer::timeout, this, &LocalThread::giveUp, Qt::DirectConnection);

    if (socket.setSocketDescriptor(m_socketDescriptor, QLocalSocket::ConnectedState,
                                   QIODevice::ReadWrite) &&
        socket.state() == QLocalSocket::ConnectedState &&
        FramedMessage::write(&socket, m_message, WriteTimeoutMs))
        exec();

    socket.disconnect(this);
    m_socket = nullptr;
    m_stallTimer = nullptr;
}

void LocalThread::readyRead() {
    QString text;
    for (;;) {
        const FramedMessage::Status status = FramedMessage::take(m_socket, &text);
        if (status == FramedMessage::Status::Incomplete)
            break;
        if (status == FramedMessage::Status::Malformed) {
            giveUp();
            return;
        }
        m_stallTimer->stop();
        if (m_socket->state() == QLocalSocket::ConnectedState)
            FramedMessage::write(m_socket, m_message, WriteTimeoutMs);
        emit messageReceived(text);
    }
    // Bytes left over are the start of a frame; it must complete in time.
    if (m_socket->bytesAvailable() == 0)
        m_stallTimer->stop();
    else if (!m_stallTimer->isActive())
        m_stallTimer->start();
}

void LocalThread::giveUp() {
    m_socket->abort();
    quit();
}
