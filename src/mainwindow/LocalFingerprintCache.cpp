#include "LocalFingerprintCache.h"

#include <QCryptographicHash>
#include <QFile>
#include <QFileInfo>

LocalFingerprintCache &LocalFingerprintCache::instance() {
    static LocalFingerprintCache cache;
    return cache;
}

QString LocalFingerprintCache::fingerprint(const QString &path) {
    const QFileInfo info(path);
    if (!info.isFile()) {
        m_entries.remove(path);
        return QString();
    }
    Entry current;
    current.size = info.size();
    current.modified = info.fileTime(QFileDevice::FileModificationTime);
    current.changed = info.fileTime(QFileDevice::FileMetadataChangeTime);
    const auto cached = m_entries.constFind(path);
    if (cached != m_entries.constEnd() && cached->size == current.size &&
        cached->modified == current.modified && cached->changed == current.changed)
        return cached->hash;

    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        m_entries.remove(path);
        return QString();
    }
    ++m_reads;
    QCryptographicHash sha1(QCryptographicHash::Sha1);
    char block[4096];
    qint64 read = 0;
    while ((read = file.read(block, sizeof block)) > 0)
        sha1.addData(QByteArrayView(block, read));
    if (read < 0) {
        m_entries.remove(path);
        return QString();
    }
    current.hash = QString::fromLatin1(sha1.result().toHex());
    if (m_entries.size() >= kMaxEntries)
        m_entries.clear();
    m_entries.insert(path, current);
    return current.hash;
}
