#pragma once

#include <QString>

#include <functional>

// The fingerprints that identify a document everywhere: SHA-1 as 40
// lower-case hex digits, of the whole file and of its first 4096 bytes.
namespace Fingerprint {

constexpr qint64 kChunk = 1024 * 1024;

// Called after each chunk has been digested with the file's size and the
// offset the chunk started at; returning false stops the reading.
using Step = std::function<bool(qint64 size, qint64 offset)>;

// Empty when the file cannot be opened or read, or a step stopped it. An
// empty file gives the digest of no data.
QString ofFile(const QString &path, const Step &step = Step());
// Empty when nothing can be read (so also for an empty file).
QString ofHead(const QString &path);

} // namespace Fingerprint
