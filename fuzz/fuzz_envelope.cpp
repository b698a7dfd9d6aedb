// Any reply body: its envelope, and the envelope (or the whole reply) parsed
// as the connection parses it.
#include "service/ReplyEnvelope.h"

#include <QDomDocument>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    const QByteArray envelope = ReplyEnvelope::strip(reply);
    QDomDocument document;
    document.setContent(envelope.isNull() ? reply : envelope);
    return 0;
}
