#include "ChunkedBody.h"

#include <QHttpServerResponder>
#include <QTcpSocket>

namespace {

const qsizetype kChunk = 64 * 1024;

} // namespace

ChunkedBody::ChunkedBody(QHttpServerResponder &responder)
    : m_responder(responder) {
    m_pending.reserve(kChunk);
    open(QIODevice::WriteOnly);
}

ChunkedBody::~ChunkedBody() {
    if (isOpen())
        close();
}

qint64 ChunkedBody::writeData(const char *data, qint64 size) {
    m_pending.append(data, size);
    if (m_pending.size() >= kChunk)
        sendChunk();
    return size;
}

void ChunkedBody::sendChunk() {
    if (m_pending.isEmpty())
        return;
    m_responder.writeBody(QByteArray::number(m_pending.size(), 16) + "\r\n");
    m_responder.writeBody(m_pending);
    m_responder.writeBody("\r\n");
    m_pending.clear();
    // Out as far as the system takes it now, without waiting for the event loop.
    if (QTcpSocket *socket = m_responder.socket())
        socket->flush();
}

void ChunkedBody::close() {
    sendChunk();
    m_responder.writeBody("0\r\n\r\n");
    QIODevice::close();
}

void ChunkedBody::abandon() {
    m_pending.clear();
    QIODevice::close();
    if (QTcpSocket *socket = m_responder.socket())
        socket->disconnectFromHost();
}
