#include "app/FramedMessage.h"

#include <QDataStream>
#include <QDeadlineTimer>
#include <QLocalSocket>
#include <QtEndian>

QByteArray FramedMessage::encode(const QString &text) {
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out << qint32(0) << text;
    out.device()->seek(0);
    out << qint32(block.size() - HeaderSize);
    return block;
}

FramedMessage::Status FramedMessage::decode(const QByteArray &data, QString *text,
                                            qsizetype *frameSize) {
    *frameSize = 0;
    if (data.size() < HeaderSize)
        return Status::Incomplete;
    const qint32 payload = qFromBigEndian<qint32>(data.constData());
    // The payload holds at least the string's own byte count.
    if (payload < HeaderSize || payload > MaxPayload)
        return Status::Malformed;
    *frameSize = HeaderSize + payload;
    if (data.size() < *frameSize)
        return Status::Incomplete;

    QDataStream in(QByteArray::fromRawData(data.constData() + HeaderSize, payload));
    QString value;
    in >> value;
    if (in.status() != QDataStream::Ok || !in.atEnd())
        return Status::Malformed;
    *text = value;
    return Status::Complete;
}

FramedMessage::Status FramedMessage::take(QIODevice *device, QString *text) {
    qsizetype size = 0;
    Status status = decode(device->peek(HeaderSize), text, &size);
    if (status == Status::Incomplete && size > 0) {
        if (device->bytesAvailable() < size)
            return Status::Incomplete;
        status = decode(device->peek(size), text, &size);
    }
    if (status == Status::Complete)
        device->skip(size);
    return status;
}

bool FramedMessage::read(QLocalSocket *socket, QString *text) {
    text->clear();
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return false;
    const QDeadlineTimer deadline(ReadLimitMs);
    for (;;) {
        const Status status = take(socket, text);
        if (status != Status::Incomplete)
            return status == Status::Complete;
        const int wait = int(qMin<qint64>(WaitStepMs, deadline.remainingTime()));
        if (wait <= 0 || !socket->waitForReadyRead(wait))
            return false;
    }
}

bool FramedMessage::write(QLocalSocket *socket, const QString &text, int timeout) {
    if (!socket || socket->state() != QLocalSocket::ConnectedState)
        return false;
    if (socket->write(encode(text)) == -1)
        return false;
    return socket->waitForBytesWritten(timeout);
}
