#pragma once

#include <QDialog>

class QCloseEvent;
class QVWConn;

namespace Ui {
class DialogDownloadFile;
}

// "Download file in corso...": the progress of a preserved copy on its way
// down, which the user may cancel. It follows the opener's connection, which
// it does not own; the opener sends the request and keeps the file.
class DialogDownloadFile : public QDialog {
    Q_OBJECT
public:
    DialogDownloadFile(QVWConn *conn, QWidget *parent);
    ~DialogDownloadFile() override;

    // Follows the connection from now on.
    void prepareDownload();

public slots:
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);
    void onDownloadFallure(const QString &description, const QString &code);
    void onCancelDownload();

protected:
    // Closing only stops following the connection: the transfer goes on.
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::DialogDownloadFile *ui;
    QVWConn *conn;
};
