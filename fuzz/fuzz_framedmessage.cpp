// Whatever a local peer writes: decoded in one piece, then taken frame by frame
// from a device as the single-instance server does.
#include "app/FramedMessage.h"

#include <QBuffer>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString text;
    qsizetype frameSize = 0;
    if (FramedMessage::decode(bytes, &text, &frameSize) == FramedMessage::Status::Complete &&
        (frameSize < FramedMessage::HeaderSize || frameSize > bytes.size()))
        __builtin_trap();
    QBuffer device;
    device.setData(bytes);
    device.open(QIODevice::ReadOnly);
    while (FramedMessage::take(&device, &text) == FramedMessage::Status::Complete) {
    }
    return 0;
}
