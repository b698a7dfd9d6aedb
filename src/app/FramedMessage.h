#pragma once

#include <QByteArray>
#include <QString>

class QIODevice;
class QLocalSocket;

// The unit exchanged between instances on the single-instance socket: a
// big-endian qint32 with the number of bytes that follow, then the text as a
// QDataStream QString (quint32 byte count and UTF-16BE code units). Both ends
// of the channel read and write frames only through here.
namespace FramedMessage {

enum class Status { Complete, Incomplete, Malformed };

constexpr qsizetype HeaderSize = 4;
// Larger payloads are refused rather than buffered; the messages of the
// channel are a few characters long.
constexpr qint32 MaxPayload = 1 << 20;
// Each wait for more bytes, and the bound on a whole blocking read.
constexpr int WaitStepMs = 250;
constexpr int ReadLimitMs = 5000;

QByteArray encode(const QString &text);

// Decodes the frame at the start of data. frameSize is set as soon as the
// header is known to be sound, even when the rest has not arrived yet.
Status decode(const QByteArray &data, QString *text, qsizetype *frameSize);

// Takes one complete frame out of the device's buffered bytes, leaving an
// incomplete one in place for later.
Status take(QIODevice *device, QString *text);

// Blocking read of one frame: false when the socket is not connected, the
// frame is malformed, a wait for more bytes fails or the bound is reached.
bool read(QLocalSocket *socket, QString *text);

// Blocking write of one frame, waiting up to timeout ms for it to leave.
bool write(QLocalSocket *socket, const QString &text, int timeout);

} // namespace FramedMessage
