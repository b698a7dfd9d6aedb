// Any synchronisation reply written to a mirror of the target's own as it
// arrives, in slices whose size the input's first byte chooses: the parse
// follows the bytes and writes rows, all or none.
#include "service/SyncParser.h"

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
    if (size == 0)
        return 0;
    const qsizetype slice = 1 + data[0];
    const QByteArray reply(reinterpret_cast<const char *>(data + 1), qsizetype(size - 1));
    SyncParser parser(QStringLiteral("anna"));
    for (qsizetype at = 0; at < reply.size(); at += slice)
        parser.feed(reply.mid(at, slice));
    parser.finish();
    if (parser.state() == SyncParser::State::Whole)
        parser.takeBytes();
    else
        parser.commit();
    return 0;
}
