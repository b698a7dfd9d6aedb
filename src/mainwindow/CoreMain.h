#pragma once

#include "storage/Database.h"
#include "storage/Setting.h"

#include <QDialog>
#include <QMenu>
#include <QModelIndex>
#include <QMovie>
#include <QPointer>
#include <QString>
#include <QSystemTrayIcon>

class ChangePwdDialog;
class LoginDialog;
class MetadatiCategories;
class ProxyDialog;
class QAction;
class QNetworkCookieJar;
class QSqlTableModel;
class QStandardItemModel;
class QVWConn;

namespace Ui {
class CoreMain;
}

// The one main window. It owns what lives as long as the process: the
// notification-area icon, the login dialog, the shared cookie jar and the
// window's own connection. While nobody is signed in every request to show it
// shows the login dialog instead.
//
// Life cycle, tray and sign-in live in CoreMain.cpp; profiles, quota, classes
// and the settings page in CoreMainProfiles.cpp.
class CoreMain : public QDialog {
    Q_OBJECT
public:
    explicit CoreMain(QWidget *parent = nullptr);
    ~CoreMain() override;

    bool eventFilter(QObject *object, QEvent *event) override;
    void setVisible(bool visible) override;
    // Closing only hides the window, unless there is no notification area to
    // bring it back from: then the program ends.
    void reject() override;

    void loadBuckets();
    void updateQuota();
    void loadCategories();

public slots:
    void showApp();
    void onLoginOK(const QString &username, const QString &password, bool save);
    void onLoginKO(const QString &username);
    void syncCategorie();
    void onSyncCategorieKO(const QString &message, const QString &status);
    void onSyncCategorieOK();
    void clickIcon(QSystemTrayIcon::ActivationReason reason);
    void onClickLogout();
    void onChangeBucket(int index);
    void showListFile();
    void showSettings();
    void onClickShowMetadataCurrent();
    void onClickShowMetadata(const QModelIndex &index);
    void onClickShowMetadata(int idFolder, const QString &className);
    void onFilterListCateg(const QString &text);
    void onClickChangePassword();
    void resetWinChangePwd();
    void onClickHelp();
    void onClickProxySettings();
    void onCloseProxyDialog(int result);
    void onClickBuyQuota(const QString &link);

private slots:
    void onSyncSessionLost();

private:
    void buildTrayMenu();
    void setSignedInEntriesVisible(bool signedIn);
    void fitListColumns();
    void connectSync();
    void disconnectSync();
    QString categoryFilter(const QString &nameFragment);
    void openServicePage(const QString &path);

    QString idBuckets;
    QString bucketName = QStringLiteral("Nessun Profilo");
    QString quota, used, unit, div;
    Ui::CoreMain *ui;
    QSystemTrayIcon trayIcon;
    QMenu trayMenu;
    QAction *showAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *userAction = nullptr;
    QAction *loginAction = nullptr;
    QAction *conservaAction = nullptr;
    QAction *profileAction = nullptr;
    QAction *logoutAction = nullptr;
    Setting setting;
    QPointer<MetadatiCategories> metadataDialog;
    QPointer<ChangePwdDialog> changePwdDialog;
    QPointer<ProxyDialog> proxyDialog;
    QVWConn *conn = nullptr;
    Database database;
    QSqlTableModel *categoryModel = nullptr;
    // The list's columns without rows: the document list is not read from
    // the mirror yet.
    QStandardItemModel *listColumns = nullptr;
    QMovie loadingMovie;
    LoginDialog *loginDialog = nullptr;
    QNetworkCookieJar *cookieJar = nullptr;
    // The connection cannot be handed credentials, so the signed-in user is
    // kept here for the labels and the tray.
    QString signedInUser;
    bool loggedIn = false;
};
