#pragma once

#include "storage/Setting.h"

#include <QDialog>
#include <QDomElement>
#include <QPointer>
#include <QString>

class ProxyDialog;
class QEvent;
class QNetworkCookieJar;
class QShowEvent;
class QVWConn;

namespace Ui {
class LoginDialog;
}

// The window in which the user signs in. It learns nothing about the main
// window: the outcome leaves only through loginOK() and loginKO().
class LoginDialog : public QDialog {
    Q_OBJECT
public:
    // The cookie jar stays the caller's; every connection of the dialog uses it.
    explicit LoginDialog(QNetworkCookieJar *cookieJar, QWidget *parent = nullptr);
    ~LoginDialog() override;

    bool eventFilter(QObject *object, QEvent *event) override;

    // Escape and the close box end the program too when there is no
    // notification area to come back from.
    void reject() override;

signals:
    void loginOK(QString username, QString password, bool salva);
    void loginKO(QString username);

public slots:
    void onClickOK();
    void onClickAnnulla();
    void onClickHelp();
    void onLoginOK(const QDomElement &body);
    void onLoginKO();
    void onCommandFaillure(const QString &message, const QString &status);
    void onCloseProxyDialog(int result);
    void onKeychainFailed();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void newConnection();
    void setInputEnabled(bool enabled);
    void showLoginMessage(const QString &styleSheet, const QString &text);
    void connectLogin();
    void disconnectLogin();
    void openServicePage(const QString &path);
    void quitWithoutTray();

    Ui::LoginDialog *ui;
    Setting setting;
    QNetworkCookieJar *cookieJar;
    QVWConn *conn = nullptr;
    QPointer<ProxyDialog> proxyDialog;
    bool keychainNoticeGiven = false;
};
