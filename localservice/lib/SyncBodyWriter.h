#pragma once

#include <QString>

class QXmlStreamWriter;
class ServiceStore;

// Writes an account's state in the synchronisation format: every profile
// (`bucket`), policy (`policie`), class (`folder` with its `metadato`
// fields), and the current preserved documents (`file`) with their values
// (`metadatoValue`) whose stamp is newer than `codesync`. Streams straight
// from the queries, so accounts of any size cost no tree in memory.
class SyncBodyWriter {
public:
    static bool write(ServiceStore &store, QXmlStreamWriter &xml, const QString &owner,
                      double codesync);
};
