#include "mainwindow/CoreMain.h"

#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "app/LocalSocketIpcServer.h"
#include "app/MessageBox.h"
#include "app/SingleApplication.h"
#include "app/TrayAvailability.h"
#include "preservation/ConservaFileDialog.h"
#include "mainwindow/DocumentSearch.h"
#include "mainwindow/HTMLItemDelegate.h"
#include "mainwindow/ListFileDelegate.h"
#include "platform/WindowFront.h"
#include "service/LoginDialog.h"
#include "service/QVWConn.h"
#include "service/SessionJar.h"
#include "ui_coremain.h"

#include <QAction>
#include <QCoreApplication>
#include <QHeaderView>
#include <QSortFilterProxyModel>

#include <utility>

CoreMain::CoreMain(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::CoreMain)
    , trayIcon(this)
    , exhibitor(this)
    , loadingMovie(QStringLiteral(":/images/loading.gif")) {
    cookieJar = new SessionJar;
    conn = new QVWConn(cookieJar, false);
    conn->setParent(this);

    loginDialog = new LoginDialog(cookieJar, nullptr);

    ui->setupUi(this);
    setWindowFlags(Qt::Window);
    setWindowTitle(QStringLiteral("Quillora Lite"));

    ui->tbwMetadati->horizontalHeader()->hide();
    ui->tbwMetadati->verticalHeader()->hide();
    ui->hwBottoniera->hide();
    // The details start closed; the button offers to open them.
    detailsShown = true;
    toggleDetails();
    // Preserving needs a signed-in user.
    ui->btmConserva->setEnabled(false);
    setAcceptDrops(true);
    connect(ui->btmConserva, &QPushButton::clicked, this, &CoreMain::showConserveDialog);
    setUpRetrieval();

    showListFile();

    ui->lblChangePwd->installEventFilter(this);
    ui->tbwFile->installEventFilter(this);
    // It takes the room the top bar leaves and elides the name to fit.
    ui->lblUserConn->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    ui->topBarLayout->setStretchFactor(ui->accountLayout, 1);
    ui->lblUserConn->installEventFilter(this);
    ui->btmAggiungiCat->hide();
    ui->btmDeleteCateg->hide();
    ui->lblLoading->hide();

    connect(ui->tbwFile->horizontalHeader(), &QHeaderView::sectionClicked, this,
            &CoreMain::onSortByColumn);
    connect(ui->btmHideDetail, &QPushButton::clicked, this, &CoreMain::onClickHideDetail);
    connect(ui->leSearch, &QLineEdit::textChanged, this, &CoreMain::onFilterList);
    documentSearch = new DocumentSearch(this);
    connect(documentSearch, &DocumentSearch::rowsFound, this, &CoreMain::showFoundRows);
    connect(ui->btmLogout, &QToolButton::clicked, this, &CoreMain::onClickLogout);
    connect(loginDialog, &LoginDialog::loginOK, this, &CoreMain::onLoginOK);
    connect(loginDialog, &LoginDialog::loginKO, this, &CoreMain::onLoginKO);
    connect(ui->btmMetadati, &QPushButton::clicked, this, &CoreMain::onClickShowMetadataCurrent);
    connect(ui->btmListFile, &QToolButton::clicked, this, &CoreMain::showListFile);
    connect(ui->btmSettings, &QToolButton::clicked, this, &CoreMain::showSettings);
    connect(ui->twCategorie, &QTableView::doubleClicked, this,
            qOverload<const QModelIndex &>(&CoreMain::onClickShowMetadata));
    connect(ui->leSearchCateg, &QLineEdit::textChanged, this, &CoreMain::onFilterListCateg);
    connect(ui->btmHelp, &QToolButton::clicked, this, &CoreMain::onClickHelp);
    connect(ui->btmSettingsProxy, &QPushButton::clicked, this, &CoreMain::onClickProxySettings);
    connect(ui->lblUserConn, &QLabel::linkActivated, this, &CoreMain::onClickBuyQuota);
    connect(&trayIcon, &QSystemTrayIcon::activated, this, &CoreMain::clickIcon);

    if (!trayAvailable())
        MessageBox::warning(nullptr, QStringLiteral("Errore"),
                            QStringLiteral("Il sistema non dispone di un'area di notifica"));

    buildTrayMenu();
    trayIcon.setContextMenu(&trayMenu);
    trayIcon.setIcon(QIcon(QStringLiteral(":/images/quilloralite.png")));
    trayIcon.show();

    htmlDelegate = new HTMLItemDelegate;
    ui->tbwFile->setItemDelegate(htmlDelegate);

    ui->twCategorie->horizontalHeader()->setSectionResizeMode(QHeaderView::Stretch);

    // Nobody is signed in yet: showing the window shows the login dialog.
    hide();
    show();

    ui->tbwFile->setStyleSheet(QStringLiteral("selection-background-color: palette(highlight);"));
}

CoreMain::~CoreMain() {
    // Windows without a parent go first, then the connections, then the jar
    // they all share.
    delete loginDialog;
    delete conservaDialog.data(); // a dropped file's wizard has no parent
    if (changePwdDialog) {
        disconnect(changePwdDialog, &QObject::destroyed, this, &CoreMain::resetWinChangePwd);
        delete changePwdDialog;
    }
    delete proxyDialog;
    delete conn;
    delete ui;
    delete proxyModel;
    delete fileModel;
    delete htmlDelegate;
    delete cookieJar;
}

void CoreMain::buildTrayMenu() {
    userAction = trayMenu.addAction(setting.value(QStringLiteral("username")));
    QFont bold = userAction->font();
    bold.setWeight(QFont::Bold);
    userAction->setFont(bold);
    profileAction = trayMenu.addAction(bucketName);
    trayMenu.addSeparator();
    showAction = trayMenu.addAction(tr("&Mostra"), this, &CoreMain::showApp);
    trayMenu.addSeparator();
    conservaAction = trayMenu.addAction(tr("Conserva file"), this, &CoreMain::showConserveDialog);
    trayMenu.addSeparator();
    logoutAction = trayMenu.addAction(tr("Logout"), this, &CoreMain::onClickLogout);
    loginAction =
        trayMenu.addAction(tr("Login"), this, [this] { Platform::bringToFront(loginDialog); });
    quitAction = trayMenu.addAction(tr("Esci"), qApp, &QCoreApplication::quit);
    setSignedInEntriesVisible(false);
}

void CoreMain::setSignedInEntriesVisible(bool signedIn) {
    for (QAction *action : {userAction, profileAction, showAction, conservaAction, logoutAction})
        action->setVisible(signedIn);
    loginAction->setVisible(!signedIn);
    conservaAction->setEnabled(signedIn);
    ui->btmConserva->setEnabled(signedIn);
}

void CoreMain::clickIcon(QSystemTrayIcon::ActivationReason reason) {
    if (reason == QSystemTrayIcon::DoubleClick) {
        if (isVisible())
            hide();
        else
            Platform::bringToFront(this);
        return;
    }
    userAction->setText(conn->username().isEmpty() ? QStringLiteral("Non sei connesso")
                                                   : conn->username());
    profileAction->setText(QStringLiteral("(") + bucketName + QStringLiteral(")"));
}

void CoreMain::showApp() {
    // Raised and activated, not just shown behind whatever the user works in.
    Platform::bringToFront(loggedIn ? static_cast<QWidget *>(this) : loginDialog);
}

void CoreMain::setVisible(bool visible) {
    if (visible && !loggedIn) {
        if (loginDialog)
            Platform::bringToFront(loginDialog);
        return;
    }
    QDialog::setVisible(visible);
}

void CoreMain::reject() {
    QDialog::reject();
    // Without a notification area a hidden window could never come back.
    if (!trayAvailable())
        QCoreApplication::quit();
}

void CoreMain::onLoginOK(const QString &username, const QString &password, bool save) {
    loggedIn = true;
    conn->setCredentials(username, password);

    disconnect(ui->cbBuckets, &QComboBox::currentIndexChanged, this, &CoreMain::onChangeBucket);
    setSignedInEntriesVisible(true);

    if (save) {
        setting.setValue(QStringLiteral("username"), username);
        setting.setValue(QStringLiteral("password"), password);
        setting.setValue(QStringLiteral("saveLogin"), QStringLiteral("1"));
    } else {
        setting.setValue(QStringLiteral("username"), QString());
        setting.setValue(QStringLiteral("password"), QString());
        setting.setValue(QStringLiteral("saveLogin"), QStringLiteral("0"));
    }
    setting.setValue(QStringLiteral("lastusername"), username);

    loadBuckets();
    connect(ui->cbBuckets, &QComboBox::currentIndexChanged, this, &CoreMain::onChangeBucket);
    // The login has already brought the mirror up to date.
    onSyncCategorieOK();
    showListFile();
    show();
    if (!ipcServer) {
        ipcServer = new LocalSocketIpcServer(
            QString::fromLatin1(SingleApplication::ApplicationKey), this);
        connect(ipcServer, &LocalSocketIpcServer::messageReceived, this,
                &CoreMain::parseExternalMessage);
    }
    if (!startupRequest.isEmpty())
        QMetaObject::invokeMethod(
            this, [this, request = std::exchange(startupRequest, QString())] {
                parseExternalMessage(request);
            }, Qt::QueuedConnection);
}

void CoreMain::onLoginKO(const QString &username) {
    setSignedInEntriesVisible(false);
    setting.setValue(QStringLiteral("lastusername"), username);
}

void CoreMain::onClickLogout() {
    loggedIn = false;
    // Cleared at sign-in already; said again in case the keychain could not
    // be reached then.
    if (setting.value(QStringLiteral("saveLogin")) != QLatin1String("1"))
        setting.removeValue(QStringLiteral("password"));
    // Other programs find nobody to ask until the next sign-in.
    delete ipcServer;
    ipcServer = nullptr;
    setSignedInEntriesVisible(false);
    // A connection that has logged out reports nothing any more; the next
    // user needs one that answers.
    conn->logout();
    conn->deleteLater();
    conn = new QVWConn(cookieJar, false);
    conn->setParent(this);
    bindRetrieval();
    // The list view stays without a model until the next load.
    documentSearch->cancel();
    delete proxyModel;
    proxyModel = nullptr;
    hide();
    Platform::bringToFront(loginDialog);
}

void CoreMain::showListFile() {
    ui->wListFiles->show();
    ui->leSearch->setVisible(true);
    ui->pbIconSearch_2->setVisible(true);
    fitListColumns();
    ui->wSettings->hide();
}

void CoreMain::showSettings() {
    ui->tabWidget->setCurrentIndex(0);
    ui->wListFiles->hide();
    ui->wSettings->show();
}

void CoreMain::fitListColumns() {
    const int width = ui->tbwFile->width() / 5 - 5;
    for (int column = 1; column <= 5; ++column)
        ui->tbwFile->setColumnWidth(column, width);
}

bool CoreMain::eventFilter(QObject *object, QEvent *event) {
    // The list follows its own size: on the first showing the window's resize
    // comes before the layout has placed the list.
    if (object == ui->tbwFile && event->type() == QEvent::Resize)
        fitListColumns();
    if (object == ui->lblUserConn && event->type() == QEvent::Resize)
        showUserLine();
    if (object == ui->lblChangePwd && event->type() == QEvent::MouseButtonPress) {
        onClickChangePassword();
        return true;
    }
    return QDialog::eventFilter(object, event);
}
