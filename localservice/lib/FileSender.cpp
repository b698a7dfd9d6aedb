#include "FileSender.h"

#include <QTcpSocket>

namespace {

const qint64 kChunk = 256 * 1024;
const qint64 kAhead = 4 * kChunk;

} // namespace

FileSender::FileSender(const QString &path, QTcpSocket *socket)
    : QObject(socket)
    , m_file(path)
    , m_socket(socket) {}

bool FileSender::send(const QString &path, QTcpSocket *socket) {
    auto *sender = new FileSender(path, socket);
    if (!sender->m_file.open(QIODevice::ReadOnly)) {
        delete sender;
        return false;
    }
    connect(socket, &QIODevice::bytesWritten, sender, &FileSender::pump);
    connect(socket, &QAbstractSocket::disconnected, sender, &QObject::deleteLater);
    sender->pump();
    return true;
}

void FileSender::pump() {
    while (m_socket->bytesToWrite() < kAhead && !m_file.atEnd()) {
        const QByteArray chunk = m_file.read(kChunk);
        if (chunk.isEmpty()) {
            // The store failed half-way: the client sees the reply cut short.
            m_socket->disconnectFromHost();
            break;
        }
        m_socket->write(chunk);
    }
    if (m_file.atEnd() || !m_file.isOpen()) {
        disconnect(m_socket, nullptr, this, nullptr);
        deleteLater();
    }
}
