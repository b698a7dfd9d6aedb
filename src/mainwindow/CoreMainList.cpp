// The document page of the main window: list, search, sort and details.
#include "mainwindow/CoreMain.h"

#include "mainwindow/DocumentSearch.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/MetaDataDetailDelegate.h"
#include "platform/WindowFront.h"
#include "preservation/DateFormatDelegate.h"
#include "ui_coremain.h"

#include <QHeaderView>
#include <QItemSelection>
#include <QSortFilterProxyModel>
#include <QSqlQuery>

namespace {

enum Column { HashColumn = 0, PathColumn = 1, DateColumn = 5 };

const char *const kDetailHeaders[] = {"ID", "Key", "Value", "Hash"};

// Every row at once: the details' selection by row number works on all of them.
void fetchAll(QSqlQueryModel *model) {
    while (model->canFetchMore())
        model->fetchMore();
}

} // namespace

void CoreMain::loadFileList() {
    // A search still under way would replace the list with older rows.
    documentSearch->cancel();
    partialShown = false;
    database.open();
    delete fileModel;
    fileModel = new ListFileDelegate;
    QSqlQuery query(database.db);
    query.setForwardOnly(true); // read once into the model, never kept twice
    FileListQuery::exec(query, FileListQuery::fullLoad(idBuckets, pathFilter));
    fileModel->setQuery(std::move(query));
    ui->tbwFile->horizontalHeader()->show();

    delete proxyModel;
    proxyModel = new QSortFilterProxyModel(this);
    proxyModel->setSourceModel(fileModel);
    ui->tbwFile->setModel(proxyModel);
    connect(ui->tbwFile->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &CoreMain::onSelectedFile);
    for (int column : {0, 6, 7})
        ui->tbwFile->hideColumn(column);
    fitListColumns();
    ui->tbwFile->setSelectionMode(QAbstractItemView::SingleSelection);
    ui->tbwFile->setSelectionBehavior(QAbstractItemView::SelectRows);
    ui->tbwFile->setEditTriggers(QAbstractItemView::NoEditTriggers);
    if (!ui->tbwFile->itemDelegateForColumn(DateColumn))
        ui->tbwFile->setItemDelegateForColumn(DateColumn, new DateFormatDelegate(this));

    delete detailModel;
    detailModel = new MetaDataDetailDelegate(this);
    for (int column = 0; column < 4; ++column)
        detailModel->setHeaderData(column, Qt::Horizontal, tr(kDetailHeaders[column]));
    ui->tbwMetadati->setModel(detailModel);
    // A new list starts without a selection, and so without details.
    ui->hwBottoniera->hide();
    ui->tbwMetadati->hide();
    ui->tbwFile->horizontalHeader()->setSortIndicatorShown(true);
    ui->tbwFile->horizontalHeader()->setSortIndicator(DateColumn, Qt::DescendingOrder);
    database.close();
}

void CoreMain::onFilterList(const QString &text) {
    if (!fileModel || !proxyModel)
        return;
    documentSearch->start(text, idBuckets, pathFilter);
}

QString CoreMain::selectedHash() const {
    const QItemSelectionModel *selection = ui->tbwFile->selectionModel();
    const QModelIndexList rows =
        selection ? selection->selectedRows(HashColumn) : QModelIndexList();
    return rows.isEmpty() ? QString() : rows.first().data().toString();
}

void CoreMain::showFoundRows(const QString &text, const FileListQuery::Rows &rows, bool complete) {
    if (!fileModel || !proxyModel)
        return;
    // Between the first rows and the rest the user may have chosen another.
    const QString chosen = selectedHash();
    const QString kept = partialShown && chosen != firstShownHash ? chosen : QString();
    partialShown = !complete;
    // The rows come newest first, as the indicator says: sorting them again
    // here would cost the GUI thread more than all the rest.
    {
        const QSignalBlocker quiet(ui->tbwFile->horizontalHeader());
        ui->tbwFile->horizontalHeader()->setSortIndicator(DateColumn, Qt::DescendingOrder);
    }
    proxyModel->sort(-1);
    fileModel->highlightText = text;
    fileModel->setRows(rows);
    detailModel->setQuery(QSqlQuery());
    detailModel->highlightText = text;
    // The new rows came without a selection (and without a signal for it).
    ui->hwBottoniera->hide();
    ui->tbwMetadati->hide();
    int row = 0;
    for (int r = 0; !kept.isEmpty() && r < int(rows.size()) && row == 0; ++r)
        if (rows.at(r).value(HashColumn).toString() == kept)
            row = r;
    ui->tbwFile->selectRow(row);
    firstShownHash = row == 0 ? selectedHash() : QString();
}

void CoreMain::onSortByColumn(int column) {
    ui->tbwFile->sortByColumn(column, ui->tbwFile->horizontalHeader()->sortIndicatorOrder());
    // The chosen document stays where the user can see it.
    if (ui->tbwFile->currentIndex().isValid())
        ui->tbwFile->scrollTo(ui->tbwFile->currentIndex());
}

void CoreMain::toggleDetails() {
    detailsShown = !detailsShown;
    ui->tbwMetadati->setVisible(detailsShown);
    ui->btmHideDetail->setText(detailsShown ? QStringLiteral("Chiudi Dettagli")
                                            : QStringLiteral("Mostra Dettagli"));
}

void CoreMain::onClickHideDetail() {
    toggleDetails();
}

void CoreMain::onSelectedFile(const QItemSelection &selected, const QItemSelection &) {
    if (!detailModel)
        return;
    if (selected.indexes().isEmpty()) {
        detailModel->setQuery(QSqlQuery());
        ui->hwBottoniera->hide();
        ui->tbwMetadati->hide();
        return;
    }
    ui->hwBottoniera->show();
    ui->tbwMetadati->setVisible(detailsShown);
    const QModelIndex first = selected.indexes().first();
    const QString hash = first.sibling(first.row(), HashColumn).data(Qt::DisplayRole).toString();
    database.open();
    QSqlQuery query(database.db);
    FileListQuery::exec(query, FileListQuery::details(hash));
    detailModel->setQuery(std::move(query));
    fetchAll(detailModel);
    ui->tbwMetadati->setModel(detailModel);
    ui->tbwMetadati->hideColumn(0);
    ui->tbwMetadati->hideColumn(3);
    // Laid out by the header, so the widths are right even the first time,
    // while the panel is still hidden and has no width of its own.
    QHeaderView *header = ui->tbwMetadati->horizontalHeader();
    header->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    header->setSectionResizeMode(2, QHeaderView::Stretch);
    database.close();
}

void CoreMain::onSelectFile(const QString &filePath) {
    showListFile();
    Platform::bringToFront(this);
    selectListedFile(filePath);
    // The wizard that asks is closing: the list is read again when the
    // synchronisation that follows has brought the service's record, and
    // the document is selected then.
    detailsWanted = filePath;
}

bool CoreMain::selectListedFile(const QString &filePath) {
    if (!fileModel)
        return false;
    int target = -1;
    for (int row = 0; row < fileModel->rowCount(); ++row) {
        if (fileModel->index(row, PathColumn).data(Qt::EditRole).toString() == filePath) {
            target = row;
            break;
        }
    }
    if (target < 0)
        return false;
    const QModelIndex index = proxyModel->mapFromSource(fileModel->index(target, PathColumn));
    ui->tbwFile->selectRow(index.row());
    if (!detailsShown)
        toggleDetails();
    ui->tbwFile->scrollTo(index, QAbstractItemView::PositionAtTop);
    return true;
}
