#pragma once

#include "storage/Setting.h"

#include <QByteArray>
#include <QDialog>
#include <QDomElement>
#include <QString>

class QMovie;
class QNetworkCookieJar;
class QVWConn;

namespace Ui {
class ChangePwdDialog;
}

// "Cambio password": checks the three entries, asks the service to change the
// password through a connection of its own on the shared cookie jar and, on
// success, keeps the remembered password in step.
class ChangePwdDialog : public QDialog {
    Q_OBJECT
public:
    ChangePwdDialog(QNetworkCookieJar *cookieJar, QWidget *parent = nullptr);
    ~ChangePwdDialog() override;

public slots:
    void onClickSave();
    void onSaveOK(const QDomElement &body, const QString &status);
    void onSaveKO(const QString &description, const QString &status);
    void onRetrySave();

private slots:
    void onSessionLost();

private:
    void sendChange();
    void setSending(bool sending);
    void connectConn();
    void disconnectConn();
    // Ends the attempt with an error box; the dialog stays open for another.
    void fail(const QString &message);

    Ui::ChangePwdDialog *ui;
    Setting setting;
    QVWConn *conn;
    QByteArray requestData;
    QMovie *loadingMovie;
};
