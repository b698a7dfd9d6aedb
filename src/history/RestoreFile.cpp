#include "history/RestoreFile.h"

#include "platform/WriteBehind.h"
#include "service/AbortLater.h"

#include <QNetworkReply>

namespace {

// How much is written before it is started on its way to disk.
const qint64 kWriteBehind = 2 * 1024 * 1024;

// Only a reply that carries the file is read here; a refusal is the
// connection's to read.
bool carriesFile(QNetworkReply *reply) {
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    return status >= 200 && status < 300;
}

} // namespace

RestoreFile::RestoreFile(const QString &target, const QString &expectedHash, QObject *parent)
    : QObject(parent)
    , m_file(target)
    , m_expectedHash(expectedHash.toLower()) {
    // Writing straight into the target would destroy it on a failure.
    m_file.setDirectWriteFallback(false);
}

bool RestoreFile::open() {
    if (m_file.open(QIODevice::WriteOnly))
        return true;
    m_error = m_file.errorString();
    return false;
}

void RestoreFile::attach(QNetworkReply *reply) {
    if (!reply)
        return;
    connect(reply, &QIODevice::readyRead, this, [this, reply] { drain(reply); });
}

void RestoreFile::drain(QNetworkReply *reply) {
    if (m_writeFailed || !m_file.isOpen() || !carriesFile(reply))
        return;
    // At most the read buffer's worth waits here at a time.
    char buffer[64 * 1024];
    while (reply->bytesAvailable() > 0) {
        const qint64 read = reply->read(buffer, sizeof buffer);
        if (read <= 0)
            break;
        if (m_file.write(buffer, read) != read || !m_digest.add(buffer, read)) {
            failWriting(reply);
            return;
        }
        m_written += read;
    }
    // Committing syncs the copy to disk; started as it comes, little is left
    // to wait for then.
    if (m_written - m_behind >= kWriteBehind) {
        if (!m_file.flush()) {
            failWriting(reply);
            return;
        }
        Platform::startWriteBehind(m_file.handle(), m_behind, m_written - m_behind);
        m_behind = m_written;
    }
}

void RestoreFile::failWriting(QNetworkReply *reply) {
    m_writeFailed = true;
    m_error = m_file.errorString();
    disconnect(reply, nullptr, this, nullptr);
    // Its end reaches the window that may delete this.
    abortLater(reply);
}

RestoreFile::Outcome RestoreFile::finish(QNetworkReply *reply) {
    if (reply && reply->error() == QNetworkReply::NoError)
        drain(reply);
    if (reply)
        disconnect(reply, nullptr, this, nullptr);
    Outcome outcome = Outcome::Saved;
    if (m_writeFailed || !m_file.isOpen())
        outcome = Outcome::WriteError;
    else if (!reply || reply->error() != QNetworkReply::NoError || !carriesFile(reply))
        outcome = Outcome::NetworkError;
    else if (m_digest.hex() != m_expectedHash)
        outcome = Outcome::Altered;
    if (outcome == Outcome::Saved) {
        if (m_file.commit())
            return outcome;
        m_error = m_file.errorString();
        return Outcome::WriteError;
    }
    // Nothing of it is kept: the temporary file goes, the target stays.
    m_file.cancelWriting();
    m_file.commit();
    return outcome;
}

QString RestoreFile::errorString() const {
    return m_error.isEmpty() ? m_file.errorString() : m_error;
}
