#pragma once

#include "history/Exhibitor.h"
#include "mainwindow/FileListQuery.h"
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
class ClassTableModel;
class ConservaFileDialog;
class DocumentSearch;
class ExhibitRequest;
class HTMLItemDelegate;
class LocalSocketIpcServer;
class ListFileDelegate;
class LoginDialog;
class MetaDataDetailDelegate;
class MetadatiCategories;
class ProxyDialog;
class QAction;
class QItemSelection;
class QNetworkCookieJar;
class QSortFilterProxyModel;
class QVWConn;
class RestoreDownload;

namespace Ui {
class CoreMain;
}

// The one main window. It owns what lives as long as the process: the
// notification-area icon, the login dialog, the shared cookie jar and the
// window's own connection. While nobody is signed in every request to show it
// shows the login dialog instead.
//
// Life cycle, tray and sign-in live in CoreMain.cpp; profiles, quota, classes
// and the settings page in CoreMainProfiles.cpp; the document list, its search
// and the details in CoreMainList.cpp.
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
    // Every preserved document of the current profile, without the search.
    void loadFileList();
    void toggleDetails();
    // A request of another program to carry out once someone has signed in
    // (the file given to the program that became this client).
    void setStartupRequest(const QString &message);

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
    void onFilterList(const QString &text);
    void onSortByColumn(int column);
    void onClickHideDetail();
    void onSelectedFile(const QItemSelection &selected, const QItemSelection &deselected);
    // Selects the listed document preserved from `filePath` and opens its
    // details (the wizard's "Vedi Dettagli").
    void onSelectFile(const QString &filePath);
    void showConserveDialog();
    // The wizard is going away (not when the user chose to keep it open).
    void resetWinConserve();
    void onContextualMenu(const QPoint &pos);
    void onStoriaClick();
    void onEsibisciClick();
    // Exhibits the document `exhibitToken`.
    void esibisciFile();
    void onRipristinaClick();
    // Replaces the selected document with a corrected file ("Rettifica").
    void onSostituisciClick();
    // A request of another program: "conserva", "esibisci" or "rettifica".
    void parseExternalMessage(const QString &message);

protected:
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;

private slots:
    void onSyncSessionLost();
    void showFoundRows(const QString &text, const FileListQuery::Rows &rows, bool complete);

private:
    void restoreShownProfile();
    void showUserLine();
    void buildTrayMenu();
    void setSignedInEntriesVisible(bool signedIn);
    void fitListColumns();
    QString selectedHash() const;
    void connectSync();
    void disconnectSync();
    void openServicePage(const QString &path);
    // One new-document wizard at a time: false (with the warning) while one
    // is open, or a file is chosen or on its way to one.
    bool conserveAllowed();
    void conserveExternal(const QString &path);
    void replaceExternal(const QString &path);
    // The preserved document stored from `path`; empty when there is none.
    QString preservedHashOf(const QString &path);
    // Selects the listed document preserved from `filePath` and shows its
    // details; false when it is not listed.
    bool selectListedFile(const QString &filePath);
    // `previousHash`: the document the file replaces; empty for a new one.
    void openConserveDialog(QWidget *parent, const QString &previousHash = QString());
    // Asks for the file to preserve (replacing `previousHash` when not empty)
    // and opens its wizard.
    void chooseConserveFile(QWidget *parent, const QString &previousHash);
    void setUpRetrieval();
    // The restore and exhibition on the current connection.
    void bindRetrieval();
    // A cell of the selected row; empty without a selection.
    QString selectedValue(int column, int role = Qt::DisplayRole) const;

    QString idBuckets;
    // The profile whose documents and quota the window shows: a switch that
    // fails goes back to it.
    QString shownIdBuckets;
    QString bucketName = QStringLiteral("Nessun Profilo");
    QString quota, used, unit, div;
    // "185 di 500 MB" beside the user's name; empty for a profile without quota.
    QString userFigures;
    Ui::CoreMain *ui;
    QSystemTrayIcon trayIcon;
    Exhibitor exhibitor;
    QMenu trayMenu;
    QAction *showAction = nullptr;
    QAction *quitAction = nullptr;
    QAction *userAction = nullptr;
    QAction *loginAction = nullptr;
    QAction *conservaAction = nullptr;
    QAction *profileAction = nullptr;
    QAction *logoutAction = nullptr;
    QAction *storiaAction = nullptr;
    QAction *esibisciAction = nullptr;
    QAction *scaricaAction = nullptr;
    QAction *rettificaAction = nullptr;
    RestoreDownload *restore = nullptr;
    ExhibitRequest *exhibit = nullptr;
    // The document last exhibited and the file last restored to.
    QString exhibitToken;
    QString restoreTarget;
    Setting setting;
    QPointer<MetadatiCategories> metadataDialog;
    ChangePwdDialog *changePwdDialog = nullptr;
    QPointer<ProxyDialog> proxyDialog;
    QVWConn *conn = nullptr;
    Database database;
    ListFileDelegate *fileModel = nullptr;
    MetaDataDetailDelegate *detailModel = nullptr;
    ClassTableModel *categoryModel = nullptr;
    QMovie loadingMovie;
    LoginDialog *loginDialog = nullptr;
    QNetworkCookieJar *cookieJar = nullptr;
    // The connection cannot be handed credentials, so the signed-in user is
    // kept here for the labels and the tray.
    bool detailsShown = false;
    // The path pattern of the list statements: every path.
    QString pathFilter = QStringLiteral("%");
    QSortFilterProxyModel *proxyModel = nullptr;
    DocumentSearch *documentSearch = nullptr;
    // The list shows a search's first rows; the rest are still to come.
    bool partialShown = false;
    // The document selected on its own when the rows came, not by the user.
    QString firstShownHash;
    HTMLItemDelegate *htmlDelegate = nullptr;
    bool loggedIn = false;
    // Listens while someone is signed in.
    LocalSocketIpcServer *ipcServer = nullptr;
    QString startupRequest;
    QPointer<ConservaFileDialog> conservaDialog;
    QObject *conservaObject = nullptr;
    QString pendingFilePath;
    bool choosingFile = false;
    // The document whose details were asked for before it was listed.
    QString detailsWanted;
};
