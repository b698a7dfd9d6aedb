#pragma once

#include "preservation/Fingerprint.h"

#include <QObject>
#include <QSaveFile>
#include <QString>

class QNetworkReply;

// A preserved copy written to the user's file as it arrives: into a temporary
// file beside the target, its fingerprint taken on the way, and put in the
// target's place only when the whole reply came and matches the document's
// fingerprint. Whatever else happens, the target (and any file already there)
// stays as it was and the temporary file goes away.
class RestoreFile : public QObject {
    Q_OBJECT
public:
    enum class Outcome { Saved, NetworkError, WriteError, Altered };

    RestoreFile(const QString &target, const QString &expectedHash, QObject *parent = nullptr);

    // False, with errorString(), when nothing can be written beside the target.
    bool open();
    // Reads the file from `reply` as it arrives; the reply must be the
    // connection's current download.
    void attach(QNetworkReply *reply);
    // The reply has ended: commits or discards what was written.
    Outcome finish(QNetworkReply *reply);
    QString errorString() const;

private:
    void drain(QNetworkReply *reply);
    void failWriting(QNetworkReply *reply);

    QSaveFile m_file;
    QString m_expectedHash;
    Fingerprint::Running m_digest;
    QString m_error; // the first failure's reason
    bool m_writeFailed = false;
    qint64 m_written = 0;
    qint64 m_behind = 0; // what was started on its way to disk
};
