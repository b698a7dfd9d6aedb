// Any synchronisation reply applied to a mirror of the target's own, as the
// connection applies one whose envelope it could strip: the parse streams over
// the bytes and writes rows, all or none.
#include "service/MirrorSync.h"
#include "service/ReplyEnvelope.h"
#include "service/ReplyLimits.h"

#include <QCoreApplication>
#include <QTemporaryDir>

#include <cstdint>

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
    // The mirror goes where the settings would, never into the user's own.
    static QTemporaryDir home;
    qputenv("HOME", home.path().toUtf8());
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    static QCoreApplication app(*argc, *argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    bool overLimits = false;
    if (ReplyEnvelope::strip(reply, &overLimits).isNull() || overLimits)
        return 0;
    MirrorSync sync;
    sync.applyReply(reply);
    return 0;
}
