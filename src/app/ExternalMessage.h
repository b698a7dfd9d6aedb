#pragma once

#include <QByteArray>
#include <QString>

// A request of another program to the signed-in client: one QDataStream
// QString (Qt_4_0: big-endian 32-bit byte count, then UTF-16BE) holding an
// XML text whose first `command` and `parameter1` elements say what to do.
namespace ExternalMessage {

enum class Status { Complete, Incomplete, Malformed };

// A request is a path or a token in a few tags; anything longer is refused
// rather than buffered.
constexpr quint32 MaxTextBytes = 64 * 1024;
constexpr qsizetype MaxFrameBytes = 4 + MaxTextBytes;

QByteArray encode(const QString &text);

// Decodes the string at the start of data; whatever follows it is not read.
Status decode(const QByteArray &data, QString *text);

// The XML text of a request, with the argument escaped as XML needs.
QString request(const QString &command, const QString &parameter);

struct Request {
    QString command;   // lower-cased; empty when the text has none
    QString parameter; // empty when the text has none
};
Request parse(const QString &text);

} // namespace ExternalMessage
