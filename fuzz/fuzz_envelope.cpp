// Any reply body: its envelope and its bounds, and the envelope (or the whole
// reply) parsed as the connection parses it.
#include "service/ReplyEnvelope.h"
#include "service/ReplyLimits.h"

#include <QDomDocument>

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    bool overLimits = false;
    const QByteArray envelope = ReplyEnvelope::strip(reply, &overLimits);
    if (overLimits || (envelope.isNull() && !ReplyLimits::withinLimits(reply)))
        return 0;
    QDomDocument document;
    document.setContent(envelope.isNull() ? reply : envelope);
    return 0;
}
