// Whatever another local program writes to the client's request socket:
// decoded as the server does, and its text read as the window does.
#include "app/ExternalMessage.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    QString text;
    if (ExternalMessage::decode(bytes, &text) == ExternalMessage::Status::Complete &&
        qsizetype(text.size()) * 2 > qsizetype(ExternalMessage::MaxTextBytes))
        __builtin_trap();
    ExternalMessage::parse(text);
    // The text itself as a request, as a sender could put it.
    ExternalMessage::parse(QString::fromUtf8(bytes));
    return 0;
}
