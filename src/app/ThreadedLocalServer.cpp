#include "app/ThreadedLocalServer.h"

#include "app/LocalThread.h"

ThreadedLocalServer::ThreadedLocalServer(const QString &message, QObject *parent)
    : QLocalServer(parent)
    , m_message(message) {}

void ThreadedLocalServer::incomingConnection(quintptr socketDescriptor) {
    auto *thread = new LocalThread(socketDescriptor, m_message, this);
    connect(thread, &LocalThread::messageReceived, this, &ThreadedLocalServer::messageReceived);
    connect(thread, &QThread::finished, thread, &QObject::deleteLater);
    thread->start(QThread::InheritPriority);
}
