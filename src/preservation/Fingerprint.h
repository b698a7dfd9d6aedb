#pragma once

#include <QString>

#include <functional>
#include <memory>

struct evp_md_ctx_st;

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

// A fingerprint taken over bytes as they come, so that a stream need not be
// read twice.
class Running {
public:
    Running();
    ~Running();
    Running(const Running &) = delete;
    Running &operator=(const Running &) = delete;

    // False once the digest has failed; it then stays failed.
    bool add(const char *data, qint64 size);
    // The fingerprint of everything added; empty when the digest failed.
    // Ends the digest.
    QString hex();

private:
    struct Free {
        void operator()(evp_md_ctx_st *context) const;
    };
    std::unique_ptr<evp_md_ctx_st, Free> m_context;
};

} // namespace Fingerprint
