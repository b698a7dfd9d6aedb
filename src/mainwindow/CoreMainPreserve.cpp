// The ways the main window starts a preservation: its button and tray entry,
// a file dropped on it, and the one-wizard guard they share.
#include "mainwindow/CoreMain.h"

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "platform/WindowFront.h"
#include "preservation/ConservaFileDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>

bool CoreMain::conserveAllowed() {
    if (!conservaDialog && pendingFilePath.isEmpty() && !choosingFile)
        return true;
    MessageBox::warning(this, QStringLiteral("Conservazione file"),
                        QStringLiteral("E' in esecuzione un altro processo di conservazione, per "
                                       "poterne avviare un altro devi prima concludere quello in "
                                       "corso"));
    if (conservaDialog)
        Platform::bringToFront(conservaDialog);
    return false;
}

void CoreMain::openConserveDialog(QWidget *parent, const QString &previousHash) {
    // A folder or a device would only fail at the fingerprint, after the user
    // has chosen a class.
    const QFileInfo info(pendingFilePath);
    if (!info.isFile() || !info.isReadable()) {
        MessageBox::critical(this, QStringLiteral("Conservazione file"),
                             QStringLiteral("Si può conservare solo un file leggibile: ") +
                                 QDir::toNativeSeparators(pendingFilePath));
        pendingFilePath.clear();
        choosingFile = false;
        return;
    }
    const bool replacing = !previousHash.isEmpty();
    conservaDialog = new ConservaFileDialog(pendingFilePath, cookieJar, idBuckets, bucketName,
                                            previousHash, replacing, parent);
    // A replacement holds the window until it ends.
    conservaDialog->setModal(replacing);
    // Queued: the wizard emits it before asking whether to close, and a
    // wizard the user keeps must keep the guard.
    connect(conservaDialog, &ConservaFileDialog::closewindow, this, &CoreMain::resetWinConserve,
            Qt::QueuedConnection);
    connect(conservaDialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
    // However it goes, a wizard that is gone holds the guard no longer. (It
    // tells of its end when it is no wizard any more: compared as an object.)
    conservaObject = conservaDialog.data();
    connect(conservaDialog, &QObject::destroyed, this, [this](QObject *gone) {
        if (gone != conservaObject)
            return;
        conservaObject = nullptr;
        conservaDialog = nullptr;
        pendingFilePath.clear();
        choosingFile = false;
    });
    conservaDialog->setAttribute(Qt::WA_DeleteOnClose);
    Platform::bringToFront(conservaDialog);
}

void CoreMain::showConserveDialog() {
    if (!loggedIn || !conserveAllowed())
        return;
    Platform::bringToFront(this);
    QCoreApplication::processEvents();
    chooseConserveFile(this, QString());
}

void CoreMain::chooseConserveFile(QWidget *parent, const QString &previousHash) {
    choosingFile = true;
    pendingFilePath =
        FileDialog::getOpenFileName(this, QStringLiteral("Seleziona un file"), QDir::homePath());
    if (pendingFilePath.isEmpty()) {
        choosingFile = false;
        return;
    }
    openConserveDialog(parent, previousHash);
}

void CoreMain::dragEnterEvent(QDragEnterEvent *event) {
    event->acceptProposedAction();
}

void CoreMain::dropEvent(QDropEvent *event) {
    if (!loggedIn || !conserveAllowed())
        return;
    const QList<QUrl> urls = event->mimeData()->urls();
    const QString path = urls.isEmpty() ? QString() : urls.first().toLocalFile();
    if (path.isEmpty())
        return;
    choosingFile = true;
    pendingFilePath = path;
    event->acceptProposedAction();
    openConserveDialog(nullptr);
}

void CoreMain::resetWinConserve() {
    if (conservaDialog && conservaDialog->isVisible())
        return;
    if (conservaDialog) {
        disconnect(conservaDialog, &ConservaFileDialog::closewindow, this,
                   &CoreMain::resetWinConserve);
        disconnect(conservaDialog, &ConservaFileDialog::showDetails, this, &CoreMain::onSelectFile);
        conservaDialog = nullptr;
    }
    pendingFilePath.clear();
    choosingFile = false;
    if (!loggedIn)
        return;
    loadFileList();
    syncCategorie();
}
