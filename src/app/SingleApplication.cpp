#include "app/SingleApplication.h"

#include "app/FramedMessage.h"
#include "app/ThreadedLocalServer.h"
#include "platform/UserName.h"

#include <QCoreApplication>
#include <QHash>
#include <QLocalSocket>
#include <QReadWriteLock>
#include <QRegularExpression>
#include <QSharedMemory>

namespace {

constexpr int ConnectTimeoutMs = 200;

// Several objects of one process with the same key share one server; a null
// entry records that the server could not listen.
struct ServerRegistry {
    QReadWriteLock lock;
    QHash<QString, ThreadedLocalServer *> servers;
};

ServerRegistry &registry() {
    static ServerRegistry instance;
    return instance;
}

} // namespace

SingleApplication::SingleApplication(const QString &key, QObject *parent)
    : SingleApplication(key, Platform::currentUserName(), parent) {}

SingleApplication::SingleApplication(const QString &key, const QString &userName, QObject *parent)
    : QObject(parent)
    , m_id(cleanKey(key))
    , m_serverName(serverNameFor(key, userName)) {
    ServerRegistry &shared = registry();
    const QWriteLocker locker(&shared.lock);

    ThreadedLocalServer *server = nullptr;
    const auto known = shared.servers.constFind(m_serverName);
    if (known != shared.servers.constEnd()) {
        server = known.value();
    } else {
        if (!claimMarker())
            return;
        server = startServer();
        shared.servers.insert(m_serverName, server);
        if (server) {
            const QString name = m_serverName;
            connect(server, &QObject::destroyed, [name] {
                const QWriteLocker guard(&registry().lock);
                registry().servers.remove(name);
            });
        }
    }
    if (server)
        connect(server, &ThreadedLocalServer::messageReceived, this,
                &SingleApplication::messageReceived, Qt::QueuedConnection);
}

QString SingleApplication::cleanKey(const QString &key) {
    static const QRegularExpression outside(QStringLiteral("[^A-Za-z0-9]"));
    QString id = key;
    id.remove(outside);
    return id.isEmpty() ? QStringLiteral("SADEFAULTKEY") : id;
}

QString SingleApplication::serverNameFor(const QString &key, const QString &userName) {
    return QStringLiteral("_sa_") + cleanKey(key) + QLatin1Char('_') +
           QString::fromLatin1(userName.toUtf8().toHex());
}

bool SingleApplication::claimMarker() {
    auto *marker = new QSharedMemory(m_serverName, QCoreApplication::instance());
    bool created = marker->create(1, QSharedMemory::ReadWrite);
    if (!created && marker->error() == QSharedMemory::AlreadyExists && !connectToRunning()) {
        // Nobody answers, so the marker may be the leftover of an instance that
        // died. Detaching the last attachment destroys a segment, while a live
        // holder keeps it attached: a running instance is never disturbed.
        if (marker->attach())
            marker->detach();
        created = marker->create(1, QSharedMemory::ReadWrite);
    }
    if (created)
        return true;

    m_isRunning = marker->error() == QSharedMemory::AlreadyExists;
    if (!m_isRunning)
        qWarning("QSharedMemory::create: %s (Used key is '%s')", qPrintable(marker->errorString()),
                 qPrintable(m_serverName));
    delete marker;
    return false;
}

ThreadedLocalServer *SingleApplication::startServer() {
    auto *server = new ThreadedLocalServer(m_id, QCoreApplication::instance());
    bool listening = server->listen(m_serverName);
    if (!listening && server->serverError() == QAbstractSocket::AddressInUseError &&
        socketIsStale()) {
        // The socket file of an instance that died: nothing accepts on it.
        QLocalServer::removeServer(m_serverName);
        listening = server->listen(m_serverName);
    }
    if (listening)
        return server;

    qWarning("QLocalServer::listen: %s (Used key is '%s')", qPrintable(server->errorString()),
             qPrintable(m_serverName));
    delete server;
    return nullptr;
}

bool SingleApplication::socketIsStale() const {
    QLocalSocket probe;
    probe.connectToServer(m_serverName);
    return !probe.waitForConnected(ConnectTimeoutMs) &&
           probe.error() == QLocalSocket::ConnectionRefusedError;
}

bool SingleApplication::connectToRunning() {
    if (m_socket && m_socket->state() == QLocalSocket::ConnectedState)
        return true;
    if (!m_socket)
        m_socket = new QLocalSocket(this);
    m_socket->connectToServer(m_serverName, QIODevice::ReadWrite);
    if (!m_socket->waitForConnected(ConnectTimeoutMs)) {
        m_socket->abort();
        return false;
    }
    QString greeting;
    if (FramedMessage::read(m_socket, &greeting) && greeting == m_id)
        return true;

    m_socket->disconnectFromServer();
    if (m_socket->state() != QLocalSocket::UnconnectedState)
        m_socket->waitForDisconnected(ConnectTimeoutMs);
    m_socket->abort();
    return false;
}

bool SingleApplication::sendMessage(const QString &message, int timeout) {
    if (!m_isRunning || !connectToRunning())
        return false;
    QString acknowledgement;
    if (FramedMessage::write(m_socket, message, timeout) &&
        FramedMessage::read(m_socket, &acknowledgement) && acknowledgement == m_id)
        return true;
    // A connection left in an unknown state is not reused: the next call starts afresh.
    m_socket->abort();
    return false;
}
