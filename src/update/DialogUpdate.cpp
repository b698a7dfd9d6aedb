#include "DialogUpdate.h"

#include "service/ClientInfo.h"
#include "service/Inactivity.h"
#include "ui_dialogupdate.h"

#include <QCoreApplication>
#include <QDesktopServices>
#include <QDir>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTemporaryFile>
#include <QUrl>

#ifdef Q_OS_WIN
#include <QProcess>
#endif

#include <climits>

DialogUpdate::DialogUpdate(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::DialogUpdate) {
    ui->setupUi(this);
    ui->lblMessaggio->setTextFormat(Qt::PlainText); // the service's words, never markup
    ui->progressBar->setValue(0);
    ui->progressBar->hide();
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    connect(ui->pbAnnulla, &QPushButton::clicked, this, &DialogUpdate::onClickCancelUpdate);
    connect(ui->pbAggiorna, &QPushButton::clicked, this, &DialogUpdate::onClickUpdate);
    connect(&updateManager, &QNetworkAccessManager::finished, this,
            &DialogUpdate::onDownloadFinished);
}

DialogUpdate::~DialogUpdate() {
    if (reply) {
        // Destroyed mid-download: nobody is left to hear the outcome.
        reply->disconnect(this);
        updateManager.disconnect(this);
        reply->abort();
    }
    delete ui;
}

void DialogUpdate::setMessage(const QString &text) {
    ui->lblMessaggio->setText(text);
}

void DialogUpdate::reject() {
    onClickCancelUpdate();
}

void DialogUpdate::showEvent(QShowEvent *event) {
    // Shown again after a failed download: back to the question.
    if (!reply) {
        ui->lblMessaggio->show();
        ui->progressBar->setValue(0);
        ui->progressBar->hide();
        ui->pbAggiorna->setEnabled(true);
    }
    QDialog::showEvent(event);
}

void DialogUpdate::onClickUpdate() {
    if (reply)
        return;
    ui->pbAggiorna->setEnabled(false);
    ui->lblMessaggio->hide();
    ui->progressBar->show();
    const QUrl url(setting.value(QStringLiteral("url")) +
                   QStringLiteral("/vazedo/UpdateService?platform=%1").arg(ClientInfo::platform()));
    QNetworkRequest request(url);
    request.setTransferTimeout(Inactivity::timeoutMs());
    reply = updateManager.get(request);
    connect(reply, &QNetworkReply::downloadProgress, this, &DialogUpdate::onDownloadProgress);
}

void DialogUpdate::onClickCancelUpdate() {
    if (reply) {
        Inactivity::markCancelled(reply);
        reply->abort(); // finishes at once with the network layer's text
    }
    else
        emit updateFailure(QStringLiteral("Aggiornamento annullato"));
    ui->pbAggiorna->setEnabled(true);
    QDialog::reject();
}

void DialogUpdate::onDownloadFinished(QNetworkReply *finished) {
    if (finished != reply) {
        finished->deleteLater();
        return;
    }
    if (reply->error() != QNetworkReply::NoError) {
        fail(Inactivity::failureText(reply));
        return;
    }
    const QString path = saveInstaller(reply->readAll());
    if (path.isEmpty()) {
        fail(QStringLiteral("Impossibile salvare il file di aggiornamento"));
        return;
    }
    reply->deleteLater();
    reply = nullptr;
    if (!startInstaller(path)) {
        ui->pbAggiorna->setEnabled(true);
        emit updateFailure(QStringLiteral("Impossibile avviare il programma di aggiornamento ") +
                           QDir::toNativeSeparators(path));
        QDialog::reject();
        return;
    }
    // Hidden first: quitting closes the visible windows, and closing this one
    // would read as a cancelled update.
    accept();
    QCoreApplication::quit();
}

void DialogUpdate::onDownloadProgress(qint64 bytesReceived, qint64 bytesTotal) {
    if (bytesTotal <= 0 || bytesTotal > INT_MAX) {
        ui->progressBar->setRange(0, 0); // unknown size: busy indicator
        return;
    }
    ui->progressBar->setMaximum(int(bytesTotal));
    ui->progressBar->setValue(int(bytesReceived));
}

void DialogUpdate::fail(const QString &message) {
    reply->deleteLater();
    reply = nullptr;
    emit updateFailure(message);
    QDialog::reject();
}

QString DialogUpdate::saveInstaller(const QByteArray &content) {
    // QDir::tempPath() is empty when the temporary directory is missing: the
    // installer must not land in the root directory then.
    const QString dir = QDir::tempPath();
    if (dir.isEmpty())
        return QString();
    QTemporaryFile file(dir + QDir::separator() + QStringLiteral("qvwsetup_XXXXXX.exe"));
    file.setAutoRemove(false); // it stays for the installer, after this client has ended
    if (!file.open())
        return QString();
    const bool written = file.write(content) == content.size() && file.flush();
    file.close();
    if (!written) {
        file.remove();
        return QString();
    }
    return file.fileName();
}

bool DialogUpdate::startInstaller(const QString &path) {
#ifdef Q_OS_WIN
    return QProcess::startDetached(path, {});
#else
    // Elsewhere the installer is a package or archive: the desktop's opener
    // knows what to do with it.
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
#endif
}
