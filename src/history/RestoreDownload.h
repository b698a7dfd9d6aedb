#pragma once

#include "history/DialogDownloadFile.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>

class QNetworkReply;
class QVWConn;
class QWidget;
class RestoreFile;

// One restore ("ripristina") through a window's connection: the request, its
// download window, the copy written as it arrives and what the user is told.
// A session renewed on the way repeats the same document to the same
// destination, with the one window; once the restore has ended, nothing of it
// answers the connection any more.
class RestoreDownload : public QObject {
    Q_OBJECT
public:
    // What the opener calls the operation: the download window's title, the
    // title of the boxes and the text of the success.
    struct Texts {
        QString dialogTitle;
        QString boxTitle;
        QString savedText;
    };
    RestoreDownload(QVWConn *conn, const Texts &texts, QWidget *window);
    ~RestoreDownload() override;

    // Asks for `hash` of class `folderId` into `target`; false (the user told
    // why) when nothing can be written there.
    bool start(const QString &target, const QString &hash, const QString &folderId);
    DialogDownloadFile *downloadDialog() const { return m_dialog; }

private slots:
    void onDownloadFinish(QNetworkReply *reply);
    void onRetry();
    void onRefused();

private:
    void send();
    void end();

    QVWConn *m_conn;
    Texts m_texts;
    QWidget *m_window;
    QString m_target, m_hash, m_folderId;
    QByteArray m_body;
    std::unique_ptr<RestoreFile> m_file;
    QPointer<DialogDownloadFile> m_dialog;
};
