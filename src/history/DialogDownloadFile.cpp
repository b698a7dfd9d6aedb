#include "history/DialogDownloadFile.h"

#include "app/MessageBox.h"
#include "app/ProgressScale.h"
#include "service/QVWConn.h"
#include "ui_dialogdownloadfile.h"

#include <QCloseEvent>
#include <QNetworkReply>

DialogDownloadFile::DialogDownloadFile(QVWConn *conn, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogDownloadFile)
    , conn(conn) {
    ui->setupUi(this);
    setWindowModality(Qt::WindowModal);
    ui->progressBar->setValue(0);
}

DialogDownloadFile::~DialogDownloadFile() {
    delete ui;
}

void DialogDownloadFile::prepareDownload() {
    connect(conn, &QVWConn::avanzamentoDownload, this, &DialogDownloadFile::onDownloadProgress,
            Qt::UniqueConnection);
    connect(conn, &QVWConn::commandFailure, this, &DialogDownloadFile::onDownloadFallure,
            Qt::UniqueConnection);
    connect(ui->btmCancel, &QPushButton::clicked, this, &DialogDownloadFile::onCancelDownload,
            Qt::UniqueConnection);
    ui->lblMessaggio->setText(QStringLiteral("<font color=black>Download file in corso...</font>"));
    ui->btmCancel->setText(QStringLiteral("Annulla"));
    ui->progressBar->setValue(0);
}

void DialogDownloadFile::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    // An unknown total (-1) shows as a busy bar, as an empty one does.
    showProgress(ui->progressBar, bytesReceived, qMax<qint64>(0, bytesTotal));
}

void DialogDownloadFile::onDownloadFallure(const QString &description, const QString &) {
    hide();
    MessageBox::critical(this, QStringLiteral("Download file"), description);
    close();
}

void DialogDownloadFile::onCancelDownload() {
    // The abort ends the reply at once; its opener may be told before this
    // returns, so the window is closed first.
    close();
    if (QNetworkReply *reply = conn->currentReply())
        reply->abort();
}

void DialogDownloadFile::closeEvent(QCloseEvent *event) {
    disconnect(conn, &QVWConn::avanzamentoDownload, this,
               &DialogDownloadFile::onDownloadProgress);
    disconnect(conn, &QVWConn::commandFailure, this, &DialogDownloadFile::onDownloadFallure);
    disconnect(ui->btmCancel, &QPushButton::clicked, this, &DialogDownloadFile::onCancelDownload);
    event->accept();
}
