// The actions on the document selected in the list: its history, its
// exhibition, a copy downloaded ("Scarica") and its replacement ("Rettifica"),
// from the button bar and the list's context menu.
#include "mainwindow/CoreMain.h"

#include "app/FileDialog.h"
#include "history/ExhibitRequest.h"
#include "history/HistoryFile.h"
#include "history/RestoreDownload.h"
#include "mainwindow/ListFileDelegate.h"
#include "ui_coremain.h"

#include <QAction>
#include <QDir>
#include <QSortFilterProxyModel>

void CoreMain::setUpRetrieval() {
    storiaAction = new QAction(tr("Storia"), this);
    esibisciAction = new QAction(tr("Esibisci"), this);
    rettificaAction = new QAction(tr("Rettifica"), this);
    scaricaAction = new QAction(tr("Scarica"), this);
    bindRetrieval();

    ui->tbwFile->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->tbwFile, &QWidget::customContextMenuRequested, this, &CoreMain::onContextualMenu);
    connect(ui->btmStoria, &QPushButton::clicked, this, &CoreMain::onStoriaClick);
    connect(ui->btmEsibisci, &QPushButton::clicked, this, &CoreMain::onEsibisciClick);
    connect(ui->btmRipristina, &QPushButton::clicked, this, &CoreMain::onRipristinaClick);
    connect(ui->btmSostituisci, &QPushButton::clicked, this, &CoreMain::onSostituisciClick);
    connect(storiaAction, &QAction::triggered, this, &CoreMain::onStoriaClick);
    connect(esibisciAction, &QAction::triggered, this, &CoreMain::onEsibisciClick);
    connect(scaricaAction, &QAction::triggered, this, &CoreMain::onRipristinaClick);
    connect(rettificaAction, &QAction::triggered, this, &CoreMain::onSostituisciClick);
}

void CoreMain::bindRetrieval() {
    // What was under way on a connection that has gone goes with it: its
    // windows, and any copy half written.
    delete restore;
    delete exhibit;
    exhibitor.hide();
    restore = new RestoreDownload(conn,
                                  {QStringLiteral("Rispristino file"), QStringLiteral("Scarica file"),
                                   QStringLiteral("File scaricato")},
                                  this);
    exhibit = new ExhibitRequest(conn, &exhibitor, true, this);
}

QString CoreMain::selectedValue(int column, int role) const {
    const QItemSelectionModel *selection = ui->tbwFile->selectionModel();
    const QModelIndexList rows = selection ? selection->selectedRows(column) : QModelIndexList();
    return rows.isEmpty() ? QString() : rows.first().data(role).toString();
}

void CoreMain::onContextualMenu(const QPoint &pos) {
    // Only a row under the mouse has actions to offer.
    if (!ui->tbwFile->indexAt(pos).isValid())
        return;
    QMenu menu(tr("Context menu"), this);
    menu.addAction(storiaAction);
    menu.addAction(esibisciAction);
    menu.addAction(scaricaAction);
    menu.addAction(rettificaAction);
    menu.exec(ui->tbwFile->viewport()->mapToGlobal(pos));
}

void CoreMain::onStoriaClick() {
    const QString hash = selectedValue(ListFileDelegate::Hash);
    if (hash.isEmpty())
        return;
    auto *history =
        new HistoryFile(cookieJar, hash, selectedValue(ListFileDelegate::FolderId), nullptr);
    history->setModal(true);
    history->setAttribute(Qt::WA_DeleteOnClose);
    history->show();
}

void CoreMain::onEsibisciClick() {
    if (selectedValue(ListFileDelegate::Hash).isEmpty())
        return;
    exhibitToken = selectedValue(ListFileDelegate::Token);
    esibisciFile();
}

void CoreMain::esibisciFile() {
    exhibit->send(exhibitToken);
}

void CoreMain::onRipristinaClick() {
    const QString hash = selectedValue(ListFileDelegate::Hash);
    if (hash.isEmpty())
        return;
    restoreTarget = FileDialog::getSaveFileName(
        this, QStringLiteral("Scarica file"),
        QDir::homePath() + QLatin1Char('/') +
            selectedValue(ListFileDelegate::FileName, Qt::UserRole));
    if (restoreTarget.isEmpty())
        return;
    restore->start(restoreTarget, hash, selectedValue(ListFileDelegate::FolderId));
}

void CoreMain::onSostituisciClick() {
    const QString hash = selectedValue(ListFileDelegate::Hash);
    if (hash.isEmpty() || !conserveAllowed())
        return;
    chooseConserveFile(nullptr, hash);
}
