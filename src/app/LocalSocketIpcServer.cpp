#include "app/LocalSocketIpcServer.h"

#include "app/ExternalMessage.h"
#include "platform/LocalServerName.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

LocalSocketIpcServer::LocalSocketIpcServer(const QString &serverName, QObject *parent)
    : QObject(parent)
    , m_server(new QLocalServer(this)) {
    // Made in a private place and moved to its name, which also takes over
    // the socket a killed client left behind.
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    if (!m_server->listen(Platform::localServerName(serverName)))
        qDebug("Not able to start the Server");
    connect(m_server, &QLocalServer::newConnection, this,
            &LocalSocketIpcServer::socket_new_connection);
}

bool LocalSocketIpcServer::isListening() const {
    return m_server->isListening();
}

QString LocalSocketIpcServer::fullServerName() const {
    return m_server->fullServerName();
}

void LocalSocketIpcServer::socket_new_connection() {
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        if (m_open >= MaxOpenConnections) {
            socket->abort();
            continue;
        }
        ++m_open;
        connect(socket, &QObject::destroyed, this, [this] { --m_open; });
        auto *limit = new QTimer(socket);
        limit->setSingleShot(true);
        connect(limit, &QTimer::timeout, socket, &QLocalSocket::abort);
        limit->start(ReadLimitMs);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readFrom(socket); });
        // Bytes may have come with the connection itself.
        readFrom(socket);
    }
}

void LocalSocketIpcServer::readFrom(QLocalSocket *socket) {
    QString text;
    switch (ExternalMessage::decode(socket->peek(ExternalMessage::MaxFrameBytes), &text)) {
    case ExternalMessage::Status::Incomplete:
        return;
    case ExternalMessage::Status::Malformed:
        socket->abort();
        return;
    case ExternalMessage::Status::Complete:
        break;
    }
    // Nothing more is read from this connection; closing it tells the sender
    // that its message has arrived.
    disconnect(socket, &QLocalSocket::readyRead, this, nullptr);
    socket->disconnectFromServer();
    // Its receiver may open windows and run their loops: not from inside
    // this socket's handler.
    QMetaObject::invokeMethod(
        this, [this, text] { emit messageReceived(text); }, Qt::QueuedConnection);
}
