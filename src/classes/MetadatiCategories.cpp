#include "classes/MetadatiCategories.h"

#include "classes/MetadataSqlTableModel.h"
#include "ui_metadaticategorie.h"

#include <QCloseEvent>
#include <QSqlRelation>

MetadatiCategories::MetadatiCategories(QNetworkCookieJar *, QWidget *parent, int idFolder,
                                       const QString &className)
    : QDialog(parent)
    , ui(new Ui::MetadatiCategories)
    , loadingMovie(QStringLiteral(":/images/loading.gif"))
    , idFolder(idFolder)
    , className(className) {
    ui->setupUi(this);
    ui->lblLoading->setMovie(&loadingMovie);
    ui->lblLoading->hide();
    setFixedSize(size());
    setWindowTitle(QStringLiteral("Indici della classe ") + className);

    database.open();
    model = new MetadataSqlTableModel(this, database.db);
    model->setTable(QStringLiteral("metadati"));
    model->setSort(0, Qt::AscendingOrder);
    model->setFilter(QStringLiteral("idfolder=%1").arg(idFolder));
    model->setEditStrategy(QSqlTableModel::OnManualSubmit);
    model->setRelation(3, QSqlRelation(QStringLiteral("tipo_metadato"), QStringLiteral("id"),
                                       QStringLiteral("value")));
    const QStringList headers = {tr("ID"),       tr("ID Folder"),    tr("Nome classe"), tr("Tipo"),
                                 tr("Visibile"), tr("Obbligatorio"), tr("Modificabile")};
    for (int column = 0; column < headers.size(); ++column)
        model->setHeaderData(column, Qt::Horizontal, headers.at(column));
    ui->twMetadati->setModel(model);
    model->select();
    while (model->canFetchMore())
        model->fetchMore();
    database.close();

    for (int column : {0, 1, 6})
        ui->twMetadati->hideColumn(column);
    ui->twMetadati->setColumnWidth(2, 350);
    ui->twMetadati->setColumnWidth(3, 120);
    ui->twMetadati->setColumnWidth(4, 80);
    ui->twMetadati->setColumnWidth(5, 90);
    ui->twMetadati->setEditTriggers(QAbstractItemView::NoEditTriggers);
    ui->twMetadati->setSelectionBehavior(QAbstractItemView::SelectRows);

    ui->btmUpdate->hide();
    ui->btmAdd->hide();
    ui->btmDelete->hide();

    connect(ui->btmClose, &QPushButton::clicked, this, &MetadatiCategories::onClickClose);
    connect(ui->twMetadati, &QTableView::clicked, this, &MetadatiCategories::onClickRowMetadata);
}

MetadatiCategories::~MetadatiCategories() {
    delete ui;
}

void MetadatiCategories::onClickRowMetadata(const QModelIndex &index) {
    const bool editable = model->index(index.row(), 6).data().toInt() != 0;
    ui->btmUpdate->setEnabled(editable);
    ui->btmDelete->setEnabled(editable);
}

void MetadatiCategories::onClickClose() {
    accept();
}

void MetadatiCategories::closeEvent(QCloseEvent *event) {
    onClickClose();
    event->accept();
}
