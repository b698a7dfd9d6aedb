#include "account/ProxyDialog.h"

#include "app/MessageBox.h"
#include "ui_proxydialog.h"

namespace {
const QString kProxyUrl = QStringLiteral("proxyUrl");
const QString kProxyPort = QStringLiteral("proxyPort");
const QString kProxyCredential = QStringLiteral("proxyCredential");
const QString kProxyUsername = QStringLiteral("proxyUsername");
const QString kProxyPassword = QStringLiteral("proxyPassword");
} // namespace

ProxyDialog::ProxyDialog(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ProxyDialog) {
    ui->setupUi(this);
    connect(ui->chbEnableProxy, &QCheckBox::stateChanged, this, &ProxyDialog::onEnableDisableProxy);
    connect(ui->chbEnableCredential, &QCheckBox::stateChanged, this,
            &ProxyDialog::onEnableDisableProxyCredential);
    connect(ui->btmAnnulla, &QPushButton::clicked, this, &ProxyDialog::close);
    connect(ui->btmSalva, &QPushButton::clicked, this, &ProxyDialog::onClickSave);

    const QString proxyUrl = setting.value(kProxyUrl);
    if (!proxyUrl.isEmpty()) {
        ui->chbEnableProxy->setChecked(true);
        setProxyFieldsEnabled(true);
        ui->leIndirizzoProxy->setText(proxyUrl);
        ui->lePortProxy->setText(setting.value(kProxyPort));
        ui->leUsernameProxy->setText(setting.value(kProxyUsername));
        ui->lePasswordProxy->setText(setting.value(kProxyPassword));
    } else {
        ui->chbEnableProxy->setChecked(false);
        setProxyFieldsEnabled(false);
    }
}

ProxyDialog::~ProxyDialog() {
    delete ui;
}

void ProxyDialog::setCredentialFieldsEnabled(bool on) {
    ui->leUsernameProxy->setEnabled(on);
    ui->lePasswordProxy->setEnabled(on);
    ui->lblUsername->setEnabled(on);
    ui->lblPassword->setEnabled(on);
}

void ProxyDialog::setProxyFieldsEnabled(bool on) {
    ui->leIndirizzoProxy->setEnabled(on);
    ui->lePortProxy->setEnabled(on);
    ui->chbEnableCredential->setEnabled(on);
    const bool credential = on && setting.value(kProxyCredential) == QLatin1String("1");
    ui->chbEnableCredential->setChecked(credential);
    setCredentialFieldsEnabled(credential);
}

void ProxyDialog::onEnableDisableProxy(int state) {
    setProxyFieldsEnabled(state == Qt::Checked);
}

void ProxyDialog::onEnableDisableProxyCredential(int state) {
    setCredentialFieldsEnabled(state == Qt::Checked);
}

bool ProxyDialog::proxyFieldsComplete() {
    QString missing;
    const bool credential = ui->chbEnableCredential->isChecked();
    if (ui->leIndirizzoProxy->text().isEmpty())
        missing = QStringLiteral("Inserisci l'indirizzo del proxy");
    else if (ui->lePortProxy->text().isEmpty())
        missing = QStringLiteral("Inserisci la porta del proxy");
    else if (credential && ui->leUsernameProxy->text().isEmpty())
        missing = QStringLiteral("Inserisci il nome utente");
    else if (credential && ui->lePasswordProxy->text().isEmpty())
        missing = QStringLiteral("Inserisci la password");
    if (missing.isEmpty())
        return true;
    MessageBox::critical(this, QStringLiteral("Impostazioni proxy"), missing);
    return false;
}

void ProxyDialog::onClickSave() {
    if (!ui->chbEnableProxy->isChecked()) {
        for (const QString &key :
             {kProxyUrl, kProxyPort, kProxyCredential, kProxyUsername, kProxyPassword})
            setting.removeValue(key);
        return;
    }
    if (!proxyFieldsComplete())
        return;
    setting.setValue(kProxyUrl, ui->leIndirizzoProxy->text());
    setting.setValue(kProxyPort, ui->lePortProxy->text());
    if (ui->chbEnableCredential->isChecked()) {
        setting.setValue(kProxyCredential, QStringLiteral("1"));
        setting.setValue(kProxyUsername, ui->leUsernameProxy->text());
        setting.setValue(kProxyPassword, ui->lePasswordProxy->text());
    } else {
        for (const QString &key : {kProxyCredential, kProxyUsername, kProxyPassword})
            setting.removeValue(key);
    }
}
