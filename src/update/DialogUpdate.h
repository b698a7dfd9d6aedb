#pragma once

#include "storage/Setting.h"

#include <QDialog>
#include <QNetworkAccessManager>

class QNetworkReply;

namespace Ui {
class DialogUpdate;
}

// "Aggiornamento applicazione": tells the user that the service requires a
// newer client and, on request, downloads the installer, starts it and quits.
// A cancelled or failed update is reported through updateFailure().
class DialogUpdate : public QDialog {
    Q_OBJECT
public:
    explicit DialogUpdate(QWidget *parent = nullptr);
    ~DialogUpdate() override;

    void setMessage(const QString &text);

    // Escape (or a window manager's close) cancels like "Annulla", so the
    // connection always hears how the update ended.
    void reject() override;

signals:
    void updateFailure(QString message);

public slots:
    void onClickUpdate();
    void onClickCancelUpdate();
    void onDownloadFinished(QNetworkReply *finished);
    void onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal);

protected:
    void showEvent(QShowEvent *event) override;

private:
    void fail(const QString &message);
    // The installer in a new temporary file that outlives the client; empty
    // when it could not be written.
    QString saveInstaller(const QByteArray &content);
    bool startInstaller(const QString &path);

    Ui::DialogUpdate *ui;
    QNetworkAccessManager updateManager;
    QNetworkReply *reply = nullptr;
    Setting setting;
};
