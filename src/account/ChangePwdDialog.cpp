#include "account/ChangePwdDialog.h"

#include "app/MessageBox.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "service/XmlEscape.h"
#include "ui_changepwddialog.h"

#include <QMovie>

namespace {
const QString kResultTitle = QStringLiteral("Modifica password");
} // namespace

ChangePwdDialog::ChangePwdDialog(QNetworkCookieJar *cookieJar, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ChangePwdDialog)
    , conn(new QVWConn(cookieJar, false))
    , loadingMovie(new QMovie(QStringLiteral(":/images/loading.gif"), QByteArray(), this)) {
    ui->setupUi(this);
    setFixedSize(size());
    conn->setParent(this);

    ui->lblLoading->setMovie(loadingMovie);
    setSending(false);

    connect(ui->btmAnnulla, &QPushButton::clicked, this, &ChangePwdDialog::accept);
    connect(ui->btmSalva, &QPushButton::clicked, this, &ChangePwdDialog::onClickSave);
}

ChangePwdDialog::~ChangePwdDialog() {
    // Gone before the rest of the dialog, so no late reply reaches it.
    delete conn;
    delete ui;
}

void ChangePwdDialog::setSending(bool sending) {
    ui->lblLoading->setVisible(sending);
    if (sending)
        loadingMovie->start();
    else
        loadingMovie->stop();
    ui->btmSalva->setEnabled(!sending);
    ui->btmAnnulla->setEnabled(!sending);
}

void ChangePwdDialog::connectConn() {
    connect(conn, &QVWConn::commandSuccessful, this, &ChangePwdDialog::onSaveOK);
    connect(conn, &QVWConn::commandFailure, this, &ChangePwdDialog::onSaveKO);
    connect(conn, &QVWConn::retry, this, &ChangePwdDialog::onRetrySave);
    // A connection without credentials meets an expired session with this
    // signal alone; without it the dialog would wait for ever.
    connect(conn, &QVWConn::loginFailure, this, &ChangePwdDialog::onSessionLost);
}

void ChangePwdDialog::disconnectConn() {
    disconnect(conn, &QVWConn::commandSuccessful, this, &ChangePwdDialog::onSaveOK);
    disconnect(conn, &QVWConn::commandFailure, this, &ChangePwdDialog::onSaveKO);
    disconnect(conn, &QVWConn::retry, this, &ChangePwdDialog::onRetrySave);
    disconnect(conn, &QVWConn::loginFailure, this, &ChangePwdDialog::onSessionLost);
}

void ChangePwdDialog::onClickSave() {
    const QString title = QStringLiteral("Cambio Password");
    if (ui->txtOldPassword->text().isEmpty()) {
        MessageBox::critical(this, title, QStringLiteral("Devi inserire la vecchia password"));
        return;
    }
    if (ui->txtNewPwd->text().isEmpty()) {
        MessageBox::critical(this, title, QStringLiteral("Devi inserire la nuova password"));
        return;
    }
    if (ui->txtConfirmPwd->text() != ui->txtNewPwd->text()) {
        MessageBox::critical(this, title, QStringLiteral("Le password non corrispondono"));
        return;
    }
    connectConn();
    setSending(true);
    sendChange();
}

void ChangePwdDialog::sendChange() {
    requestData =
        QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>"
                       "changePWD</action><newpwd>%1</newpwd><confirmpwd>%2</"
                       "confirmpwd><oldpwd>%3</oldpwd></request>")
            .arg(xmlEscaped(ui->txtNewPwd->text()), xmlEscaped(ui->txtConfirmPwd->text()),
                 xmlEscaped(ui->txtOldPassword->text()))
            .toUtf8();
    conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                              QStringLiteral("text/xml;charset=UTF-8"));
    conn->sendRequest(&requestData);
}

void ChangePwdDialog::onRetrySave() {
    sendChange();
}

void ChangePwdDialog::onSaveOK(const QDomElement &body, const QString &status) {
    if (status != STATUS_CHANGE_PWD_OK) {
        const QString description =
            body.firstChildElement(QStringLiteral("statusdescription")).text();
        fail(description.isEmpty()
                 ? QStringLiteral("Risposta inattesa del servizio (stato \"%1\")").arg(status)
                 : description);
        return;
    }
    disconnectConn();
    // The session from now on renews with the password the service accepted.
    if (!conn->username().isEmpty())
        conn->setCredentials(conn->username(), ui->txtNewPwd->text());
    MessageBox::information(this, kResultTitle, QStringLiteral("Password modificata"));
    setSending(false);
    // A password the user chose not to remember is not written to disk.
    if (setting.value(QStringLiteral("saveLogin")) == QLatin1String("1"))
        setting.setValue(QStringLiteral("password"), ui->txtNewPwd->text());
    accept();
}

void ChangePwdDialog::onSaveKO(const QString &description, const QString &) {
    fail(description.isEmpty() ? QStringLiteral("La password non è stata modificata")
                               : description);
}

void ChangePwdDialog::onSessionLost() {
    fail(QStringLiteral("La sessione è scaduta: accedi di nuovo e riprova"));
}

void ChangePwdDialog::fail(const QString &message) {
    disconnectConn();
    MessageBox::critical(this, kResultTitle, message);
    setSending(false);
}
