#pragma once

#include <QDateTime>
#include <QHash>
#include <QString>

// Fingerprints (SHA-1 of the whole file, 40 lower-case hex digits) of local
// files, remembered with the size and times the file had when it was read.
// Every request looks at the file again; its content is read only when it is
// new to the cache or its size, modification or status-change time differ, so
// an answer always reflects the file as it is now.
class LocalFingerprintCache {
public:
    // The one cache of the process (GUI thread only): list models come and go
    // with every reload, the files they point at do not.
    static LocalFingerprintCache &instance();

    // Empty when the path is not a readable regular file.
    QString fingerprint(const QString &path);

    // How many times file content was read, since the start.
    qint64 reads() const { return m_reads; }

private:
    struct Entry {
        qint64 size = -1;
        QDateTime modified;
        QDateTime changed;
        QString hash;
    };
    // An account's worth of local copies; past that the cache starts over
    // rather than growing without end.
    static constexpr int kMaxEntries = 20000;

    QHash<QString, Entry> m_entries;
    qint64 m_reads = 0;
};
