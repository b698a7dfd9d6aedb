#include "LocalFingerprintCache.h"

#include "preservation/Fingerprint.h"

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

    ++m_reads;
    current.hash = Fingerprint::ofFile(path);
    if (current.hash.isEmpty()) {
        m_entries.remove(path);
        return QString();
    }
    if (m_entries.size() >= kMaxEntries)
        m_entries.clear();
    m_entries.insert(path, current);
    return current.hash;
}
