#include "preservation/Fingerprint.h"

#include <QFile>

#include <openssl/evp.h>

namespace Fingerprint {

void Running::Free::operator()(evp_md_ctx_st *context) const {
    EVP_MD_CTX_free(context);
}

Running::Running()
    : m_context(EVP_MD_CTX_new()) {
    if (m_context && EVP_DigestInit_ex(m_context.get(), EVP_sha1(), nullptr) != 1)
        m_context.reset();
}

Running::~Running() = default;

bool Running::add(const char *data, qint64 size) {
    if (m_context && size > 0 && EVP_DigestUpdate(m_context.get(), data, size_t(size)) != 1)
        m_context.reset();
    return m_context != nullptr;
}

QString Running::hex() {
    unsigned char value[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!m_context || EVP_DigestFinal_ex(m_context.get(), value, &length) != 1) {
        m_context.reset();
        return QString();
    }
    m_context.reset();
    return QString::fromLatin1(
        QByteArray::fromRawData(reinterpret_cast<const char *>(value), int(length)).toHex());
}

QString ofFile(const QString &path, const Step &step) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    Running digest;
    // One buffer per call, reused for every chunk.
    const std::unique_ptr<char[]> buffer(new char[kChunk]);
    const qint64 size = file.size();
    qint64 offset = 0;
    qint64 read = 0;
    while ((read = file.read(buffer.get(), kChunk)) > 0) {
        if (!digest.add(buffer.get(), read))
            return QString();
        if (step && !step(size, offset))
            return QString();
        offset += read;
    }
    if (read < 0)
        return QString();
    return digest.hex();
}

QString ofHead(const QString &path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    char head[4096];
    const qint64 read = file.read(head, sizeof head);
    Running digest;
    if (read <= 0 || !digest.add(head, read))
        return QString();
    return digest.hex();
}

} // namespace Fingerprint
