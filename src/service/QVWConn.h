#pragma once

#include "service/MirrorSync.h"
#include "service/SessionJar.h"
#include "storage/Setting.h"
#include "update/DialogUpdate.h"

#include <QDomElement>
#include <QNetworkAccessManager>
#include <QNetworkRequest>
#include <QString>

#include <memory>
#include <vector>

class QAuthenticator;
class QHttpMultiPart;
class QNetworkCookieJar;
class QNetworkProxy;
class QNetworkReply;
class MirrorWriter;
class SyncStream;

// The connection to the preservation service, one per window: posts XML
// requests (and multipart uploads) to the service's single endpoint, classifies
// the replies by their status number and answers with signals. It hides
// session expiry by signing in again with the credentials of its last accepted
// login and asking the sender, through retry(), to send again.
class QVWConn : public QNetworkAccessManager {
    Q_OBJECT
public:
    // The cookie jar stays its owner's: every connection shares it, and with
    // it the service's session (and, for a SessionJar, its credentials).
    QVWConn(QNetworkCookieJar *cookieJar, bool downloadMode);
    ~QVWConn() override;

    // The request used for every post; callers set its content type.
    QNetworkRequest &request();
    void setDownloadMode(bool on);
    void sendRequest(const QByteArray *body);
    // The multipart object becomes the reply's: the caller does not delete it.
    void uploadMultipart(QHttpMultiPart *multiPart);
    void applyProxySettings();
    // A request (or the login renewing its session) is on its way.
    bool isBusy() const { return m_currentReply || m_loginReply; }
    // The reply of the command, upload or download in flight; null when none.
    // A download's receiver reads the file from it as it arrives.
    QNetworkReply *currentReply() const { return m_currentReply; }
    // Drops what is in flight without a word: the user gave it up, so no
    // failure follows.
    void abortCommand();

    void login(const QString &username, const QString &password, bool forceLogin);
    // Forgets the credentials, drops what is in flight and silences the
    // connection for good.
    void logout();

    // The credentials of the last accepted login; the main window hands over
    // those its login dialog signed in with, so that this connection too can
    // renew an expired session.
    QString username() const { return m_credentials->username; }
    QString password() const { return m_credentials->password; }
    void setCredentials(const QString &username, const QString &password);

    void syncFolder();
    // True when another user's rows were there and are gone.
    bool clearOtherUserData(const QString &username);
    QString codeSync(const QString &username);

signals:
    void loginSuccessful(QDomElement body);
    void loginFailure();
    void commandSuccessful(QDomElement body, QString status);
    void commandFailure(QString message, QString status);
    void syncCategorieOK();
    void avanzamentoUpload(qint64 bytesSent, qint64 bytesTotal);
    void retry();
    void downloadFinish(QNetworkReply *reply);
    void avanzamentoDownload(qint64 bytesReceived, qint64 bytesTotal);

public slots:
    void onParseRequest(QNetworkReply *reply);
    void onSyncFolder(const QDomElement &body);
    void onProgressUpload(qint64 bytesSent, qint64 bytesTotal);
    void onProgressDownload(qint64 bytesReceived, qint64 bytesTotal);
    void onUpdateFailure(const QString &message);
    void onProxyAuthenticationRequired(const QNetworkProxy &proxy, QAuthenticator *authenticator);

protected:
    // Every request, login and upload alike, ends after a stretch without a
    // byte moving.
    QNetworkReply *createRequest(Operation op, const QNetworkRequest &request,
                                 QIODevice *outgoingData) override;

private:
    struct Answer;

    void startCommand();
    void endCommand();
    void endInFlight(Qt::ConnectionType abortHow);
    bool applySync(const QDomElement &body);
    void releaseSyncReply();
    void classifyAnswer(const Answer &answer);
    void classifyError(const Answer &answer);
    void classifyDownloadError(const Answer &answer);
    void sessionExpired(const Answer &answer);

    DialogUpdate m_dialogUpdate;
    QNetworkReply *m_currentReply = nullptr;
    QNetworkReply *m_loginReply = nullptr;
    // The session's when the jar is a SessionJar, this connection's own
    // otherwise.
    SessionJar m_ownCredentials;
    SessionJar *m_credentials = &m_ownCredentials;
    QNetworkRequest m_request;
    int m_retryCount = 0;
    // Automatic logins since the last final answer of a command: a service
    // that accepts every login and expires every resend must not keep the
    // connection busy for ever.
    int m_autoLogins = 0;
    Setting m_setting;
    MirrorSync m_mirror;
    bool m_downloadMode;
    QString m_pendingUsername, m_pendingPassword;
    int m_proxyAuthCount = 0;
    // The next post is a login's or a synchronisation's: its reply is
    // streamed into the mirror (for a login, as `m_streamUser`'s).
    bool m_streamNext = false;
    bool m_silenced = false; // by logout()
    QString m_streamUser;
    // The body of the last login or synchronisation reply, whose tree lacks
    // the documents and values, and what they are written from when that body
    // is applied: the stream holding them, uncommitted, or else the whole
    // reply (the login dialog may apply that a second time). Kept until the
    // receivers of the reply's signals have returned.
    QDomElement m_syncBody;
    SyncStream *m_syncStream = nullptr;
    QByteArray m_syncReply;
    QString m_syncUser;
    // The user whose streamed login has just been written, other users' rows
    // already taken out.
    QString m_streamedUser;
    // Writers of streamed synchronisations that may still be copying their
    // log into the mirror's file after the commit.
    std::vector<std::unique_ptr<MirrorWriter>> m_writers;
};
