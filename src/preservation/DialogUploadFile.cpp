#include "preservation/DialogUploadFile.h"

#include "app/MessageBox.h"
#include "app/ProgressScale.h"
#include "service/QVWConn.h"
#include "ui_dialoguploadfile.h"

#include <QCloseEvent>

DialogUploadFile::DialogUploadFile(QVWConn *conn, const QString &fileName, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogUploadFile)
    , conn(conn) {
    ui->setupUi(this);
    ui->pgProgressUpload->setValue(0);
    ui->lblFileSelezionato->setText(fileName);
    connect(conn, &QVWConn::commandFailure, this, &DialogUploadFile::onUploadFallure);
    connect(conn, &QVWConn::avanzamentoUpload, this, &DialogUploadFile::onUploadProgress);
    connect(ui->btmCancelUpload, &QPushButton::clicked, this, &DialogUploadFile::onCancelUpload);
}

DialogUploadFile::~DialogUploadFile() {
    delete ui;
}

void DialogUploadFile::setMessage(const QString &text) {
    ui->lblMessageOperation->setText(text);
}

void DialogUploadFile::setFingerprintProgress(qint64 total, qint64 done) {
    showProgress(ui->pgProgressUpload, done, total);
}

void DialogUploadFile::resetProgress() {
    ui->pgProgressUpload->setValue(0);
}

void DialogUploadFile::onUploadProgress(qint64 bytesSent, qint64 bytesTotal) {
    showProgress(ui->pgProgressUpload, bytesSent, bytesTotal);
}

void DialogUploadFile::onUploadFallure(const QString &, const QString &) {
    disconnectAll();
    close();
}

void DialogUploadFile::onCancelUpload() {
    if (MessageBox::question(this, QStringLiteral("Annulla operazione"),
                             QStringLiteral("Sei veramente sicuro di voler annullare "
                                            "l'operazione corrente?")) != QMessageBox::Ok)
        return;
    disconnectAll();
    if (conn->isBusy())
        conn->abortCommand();
    // Closed first: the wizard may go, and this window with it, once it hears.
    close();
    emit cancelUpload();
}

void DialogUploadFile::closeEvent(QCloseEvent *event) {
    disconnectAll();
    QDialog::closeEvent(event);
}

void DialogUploadFile::disconnectAll() {
    disconnect(conn, nullptr, this, nullptr);
    disconnect(ui->btmCancelUpload, nullptr, this, nullptr);
}
