#pragma once

#include <QDialog>

class QCloseEvent;
class QVWConn;

namespace Ui {
class DialogUploadFile;
}

// "Upload file in corso ...": the file, the step under way and its progress
// while the wizard fingerprints and uploads a document; the user may give it
// up. It follows the wizard's connection itself, which it does not own.
class DialogUploadFile : public QDialog {
    Q_OBJECT
public:
    DialogUploadFile(QVWConn *conn, const QString &fileName, QWidget *parent);
    ~DialogUploadFile() override;

    void setMessage(const QString &text);
    void setFingerprintProgress(qint64 total, qint64 done);
    void resetProgress();

signals:
    // The user confirmed giving the operation up; the request, if any, is
    // already aborted.
    void cancelUpload();

public slots:
    void onUploadProgress(qint64 bytesSent, qint64 bytesTotal);
    void onUploadFallure(const QString &description, const QString &status);
    void onCancelUpload();

protected:
    // Closing only stops following the connection: nothing is cancelled.
    void closeEvent(QCloseEvent *event) override;

private:
    void disconnectAll();

    Ui::DialogUploadFile *ui;
    QVWConn *conn;
};
