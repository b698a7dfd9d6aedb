#include "service/LoginDialog.h"

#include "account/ProxyDialog.h"
#include "app/MessageBox.h"
#include "app/TrayAvailability.h"
#include "app/UrlOpener.h"
#include "service/ClientInfo.h"
#include "service/QVWConn.h"
#include "storage/Database.h"
#include "storage/Keychain.h"
#include "ui_logindialog.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QUrl>

LoginDialog::LoginDialog(QNetworkCookieJar *cookieJar, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::LoginDialog)
    , cookieJar(cookieJar) {
    newConnection();
    ui->setupUi(this);
    setFixedSize(size());

    ui->lblLoginMessage->hide();
    ui->lblKeychainNotice->hide();
    connect(&Keychain::instance(), &Keychain::failed, this, &LoginDialog::onKeychainFailed);
    setInputEnabled(true);
    ui->lblVersion->setText(QStringLiteral("Versione ") + ClientInfo::version());

    connect(ui->btmOk, &QPushButton::clicked, this, &LoginDialog::onClickOK);
    connect(ui->btmAnnulla, &QPushButton::clicked, this, &LoginDialog::onClickAnnulla);
    connect(ui->btmHelp, &QPushButton::clicked, this, &LoginDialog::onClickHelp);

    ui->lblRecuperaPwd->installEventFilter(this);
    ui->lblSurvey->installEventFilter(this);
    ui->lblSettingProxy->installEventFilter(this);
}

LoginDialog::~LoginDialog() {
    // The proxy dialog has no parent; it must not outlive its opener.
    delete proxyDialog;
    // Gone before the rest of the dialog, so no late reply reaches a
    // half-destroyed window.
    delete conn;
    delete ui;
}

void LoginDialog::newConnection() {
    if (conn) {
        conn->disconnect(this);
        conn->deleteLater();
    }
    conn = new QVWConn(cookieJar, false);
    conn->setParent(this);
}

void LoginDialog::setInputEnabled(bool enabled) {
    ui->leUsername->setEnabled(enabled);
    ui->lePassword->setEnabled(enabled);
    ui->btmOk->setEnabled(enabled);
    ui->btmAnnulla->setEnabled(enabled);
}

void LoginDialog::showLoginMessage(const QString &styleSheet, const QString &text) {
    ui->lblLoginMessage->setStyleSheet(styleSheet);
    ui->lblLoginMessage->setText(text);
    ui->lblLoginMessage->setVisible(true);
}

void LoginDialog::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    newConnection();

    ui->lblLoginMessage->setText(QString());
    ui->lblLoginMessage->setVisible(true);
    setInputEnabled(true);

    ui->lblKeychainNotice->hide();
    // Every showing gives the keychain another chance: it may have been
    // started or unlocked since.
    Keychain::instance().retry();
    setting.moveSecretsToKeychain();

    const bool saved = setting.value(QStringLiteral("saveLogin")) == QLatin1String("1");
    ui->leUsername->setText(setting.value(saved ? QStringLiteral("username")
                                                : QStringLiteral("lastusername")));
    ui->lePassword->clear();
    ui->ckbSalvaCredenziali->setChecked(saved);
    // Asked even when nothing is remembered, so that a missing keychain is
    // said before the user ticks the box. What the user typed meanwhile stays.
    setting.valueLater(QStringLiteral("password"), this, [this, saved](const QString &password) {
        if (saved && isVisible() && ui->lePassword->isEnabled() &&
            ui->lePassword->text().isEmpty())
            ui->lePassword->setText(password);
    });
}

void LoginDialog::onKeychainFailed() {
    // Said once: it is no news at the next showing. Not while signing in:
    // the dialog is about to go and the notice with it; each showing asks
    // the keychain again, so it is said when there is someone to read it.
    if (!isVisible() || !ui->btmOk->isEnabled() || keychainNoticeGiven)
        return;
    keychainNoticeGiven = true;
    ui->lblKeychainNotice->show();
}

void LoginDialog::onClickOK() {
    // Asked of the keyboard now: a line edit swallows the Ctrl release of its
    // own shortcuts, so a remembered key state would go stale.
    const bool cleanIndexes = QGuiApplication::queryKeyboardModifiers() & Qt::ControlModifier;
    const QString title = QStringLiteral("Login");
    if (ui->leUsername->text().isEmpty()) {
        MessageBox::critical(this, title, QStringLiteral("Username è un campo obbligatorio"));
        return;
    }
    if (ui->lePassword->text().isEmpty()) {
        MessageBox::critical(this, title, QStringLiteral("Password è un campo obbligatorio"));
        return;
    }
    if (cleanIndexes &&
        MessageBox::question(this, title,
                             QStringLiteral("Sei veramente sicuro di voler avviare la pulizia "
                                            "degli indici prima di effettuare il login?")) ==
            QMessageBox::Ok) {
        Database database;
        if (database.open()) {
            database.createTables();
            database.close();
        }
        // The remembered password goes with the rest; the proxy's stays, as
        // the proxy settings do, or this very sign-in could not get through.
        setting.removeValue(QStringLiteral("password"));
    }

    showLoginMessage(QStringLiteral("color:black;"), QStringLiteral("Accesso in corso ..."));
    setInputEnabled(false);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);

    connectLogin();
    conn->login(ui->leUsername->text(), ui->lePassword->text(), true);
}

void LoginDialog::connectLogin() {
    connect(conn, &QVWConn::loginSuccessful, this, &LoginDialog::onLoginOK);
    connect(conn, &QVWConn::loginFailure, this, &LoginDialog::onLoginKO);
    connect(conn, &QVWConn::commandFailure, this, &LoginDialog::onCommandFaillure);
}

void LoginDialog::disconnectLogin() {
    disconnect(conn, &QVWConn::loginSuccessful, this, &LoginDialog::onLoginOK);
    disconnect(conn, &QVWConn::loginFailure, this, &LoginDialog::onLoginKO);
    disconnect(conn, &QVWConn::commandFailure, this, &LoginDialog::onCommandFaillure);
}

void LoginDialog::onLoginOK(const QDomElement &body) {
    disconnectLogin();
    // The fields stay disabled while signing in: they hold the accepted user.
    // The login's reply is in the mirror already; only rows of another user
    // taken out since need it applied again.
    if (conn->clearOtherUserData(ui->leUsername->text()))
        conn->onSyncFolder(body);
    emit loginOK(ui->leUsername->text(), ui->lePassword->text(),
                 ui->ckbSalvaCredenziali->isChecked());
    accept();
}

void LoginDialog::onLoginKO() {
    disconnectLogin();
    showLoginMessage(QStringLiteral("color:red;"), QStringLiteral("Username o password errate"));
    setInputEnabled(true);
    emit loginKO(ui->leUsername->text());
}

void LoginDialog::onCommandFaillure(const QString &message, const QString &status) {
    disconnectLogin();
    const bool updateFailed = status == QLatin1String("32");
    MessageBox::critical(
        this, updateFailed ? QStringLiteral("Aggiornamento software") : QStringLiteral("Errore"),
        message);
    showLoginMessage(QStringLiteral("color:red;"),
                     updateFailed ? QStringLiteral("Errore durante l'aggiornamento")
                                  : QStringLiteral("Login fallito"));
    setInputEnabled(true);
}

void LoginDialog::onClickAnnulla() {
    accept();
    quitWithoutTray();
}

void LoginDialog::reject() {
    QDialog::reject();
    quitWithoutTray();
}

void LoginDialog::quitWithoutTray() {
    // Without a notification area nothing could bring a window back.
    if (!trayAvailable())
        QCoreApplication::quit();
}

void LoginDialog::onClickHelp() {
    openServicePage(QStringLiteral("/vazedo/Help/"));
}

void LoginDialog::openServicePage(const QString &path) {
    UrlOpener::openOrTell(this, QUrl(setting.value(QStringLiteral("url")) + path));
}

bool LoginDialog::eventFilter(QObject *object, QEvent *event) {
    if (event->type() != QEvent::MouseButtonPress)
        return QDialog::eventFilter(object, event);

    if (object == ui->lblRecuperaPwd) {
        if (MessageBox::question(this, QStringLiteral("Recupero password"),
                                 QStringLiteral("Scarica il modulo e segui le istruzioni "
                                                "contenute all'interno")) == QMessageBox::Ok)
            openServicePage(QStringLiteral("/vazedo/PasswordRecovery/"));
        return true;
    }
    if (object == ui->lblSurvey) {
        openServicePage(QStringLiteral("/vazedo/Survey/"));
        return true;
    }
    if (object == ui->lblSettingProxy) {
        proxyDialog = new ProxyDialog(nullptr);
        proxyDialog->setAttribute(Qt::WA_DeleteOnClose);
        connect(proxyDialog, &QDialog::finished, this, &LoginDialog::onCloseProxyDialog);
        proxyDialog->setModal(true);
        proxyDialog->show();
    }
    return QDialog::eventFilter(object, event);
}

void LoginDialog::onCloseProxyDialog(int) {
    if (proxyDialog)
        disconnect(proxyDialog, &QDialog::finished, this, &LoginDialog::onCloseProxyDialog);
    conn->applyProxySettings();
}
