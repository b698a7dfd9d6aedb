#include "preservation/Fingerprint.h"

#include <QFile>

#include <openssl/evp.h>

#include <memory>

namespace Fingerprint {

namespace {

struct DigestDeleter {
    void operator()(EVP_MD_CTX *context) const { EVP_MD_CTX_free(context); }
};
using Digest = std::unique_ptr<EVP_MD_CTX, DigestDeleter>;

Digest startDigest() {
    Digest digest(EVP_MD_CTX_new());
    if (digest && EVP_DigestInit_ex(digest.get(), EVP_sha1(), nullptr) != 1)
        digest.reset();
    return digest;
}

QString hexOf(EVP_MD_CTX *digest) {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(digest, value, &length) != 1)
        return QString();
    return QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char *>(value), int(length)).toHex());
}

} // namespace

QString ofFile(const QString &path, const Step &step) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Digest digest = startDigest();
    if (!digest)
        return QString();
    // One buffer per call, reused for every chunk.
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    const qint64 size = file.size();
    qint64 offset = 0;
    qint64 read = 0;
    while ((read = file.read(buffer.get(), kChunk)) > 0) {
        if (EVP_DigestUpdate(digest.get(), buffer.get(), size_t(read)) != 1)
            return QString();
        if (step && !step(size, offset))
            return QString();
        offset += read;
    }
    if (read < 0)
        return QString();
    return hexOf(digest.get());
}

QString ofHead(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    char head[4096];
    const qint64 read = file.read(head, sizeof head);
    Digest digest = startDigest();
    if (read <= 0 || !digest || EVP_DigestUpdate(digest.get(), head, size_t(read)) != 1)
        return QString();
    return hexOf(digest.get());
}

} // namespace Fingerprint
