#include "classes/Categorie.h"

#include "app/MessageBox.h"
#include "classes/ClassTableModel.h"
#include "classes/MetadatiCategories.h"
#include "service/QVWConn.h"
#include "ui_categorie.h"

#include <QSqlRecord>

Categorie::Categorie(QNetworkCookieJar *cookieJar, const QString &idBuckets,
                     const QString &bucketName, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::Categorie)
    , cookieJar(cookieJar)
    , conn(new QVWConn(cookieJar, false))
    , loadingMovie(QStringLiteral(":/images/loading.gif"))
    , idBuckets(idBuckets)
    , bucketName(bucketName) {
    ui->setupUi(this);
    conn->setParent(this);
    setFixedSize(size());
    setWindowTitle(QStringLiteral("Classi (") + bucketName + QStringLiteral(")"));
    ui->btmMetadati->setEnabled(false);
    ui->btmAggiungi->hide();
    ui->btmDelete->hide();

    connect(ui->btmClose, &QPushButton::clicked, this, &Categorie::closeDialog);
    connect(ui->twCategorie, &QTableView::doubleClicked, this, &Categorie::onClickShowMetadata);
    connect(ui->btmMetadati, &QPushButton::clicked, this, &Categorie::onClickShowMetadataCurrent);
    connect(ui->leSearch, &QLineEdit::textChanged, this, &Categorie::onFilterList);

    database.open();
    model = new ClassTableModel(this, database.db, idBuckets);
    database.close();
    model->showIn(ui->twCategorie);
    connect(ui->twCategorie->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &Categorie::onSelectionChanged);
}

Categorie::~Categorie() {
    delete ui;
}

void Categorie::onClickShowMetadata(const QModelIndex &index) {
    const QSqlRecord record = model->record(index.row());
    auto *metadataDialog =
        new MetadatiCategories(cookieJar, this, record.value(ClassTableModel::Id).toInt(),
                               record.value(ClassTableModel::Name).toString());
    // Parented to this dialog: without this every window opened would stay
    // until the dialog goes.
    metadataDialog->setAttribute(Qt::WA_DeleteOnClose);
    metadataDialog->setModal(true);
    metadataDialog->show();
}

void Categorie::onClickShowMetadataCurrent() {
    const QModelIndex current = ui->twCategorie->currentIndex();
    if (current.isValid())
        onClickShowMetadata(current);
}

void Categorie::onSelectionChanged(const QItemSelection &, const QItemSelection &) {
    updateMetadataButton();
}

void Categorie::onSyncCategorieOK(const QDomElement &, const QString &) {
    endSync();
    database.open();
    model->reload();
    database.close();
    updateMetadataButton();
}

void Categorie::onSyncCategorieKO(const QString &description, const QString &) {
    endSync();
    MessageBox::critical(this, QStringLiteral("Errore"), description);
    reject();
}

void Categorie::onFilterList(const QString &text) {
    database.open();
    model->filterByName(text);
    database.close();
    updateMetadataButton();
}

void Categorie::closeDialog() {
    accept();
}

void Categorie::syncCategorie() {
    ui->lblLoading->setMovie(&loadingMovie);
    ui->lblLoading->show();
    loadingMovie.start();
    connect(conn, &QVWConn::commandSuccessful, this, &Categorie::onSyncCategorieOK,
            Qt::UniqueConnection);
    connect(conn, &QVWConn::retry, this, &Categorie::retrySyncCategorie, Qt::UniqueConnection);
    connect(conn, &QVWConn::commandFailure, this, &Categorie::onSyncCategorieKO,
            Qt::UniqueConnection);
    QCoreApplication::processEvents();
    conn->syncFolder();
}

void Categorie::retrySyncCategorie() {
    conn->syncFolder();
}

void Categorie::endSync() {
    disconnect(conn, nullptr, this, nullptr);
    ui->lblLoading->hide();
    loadingMovie.stop();
}

// A re-read list drops the selection without a word, so the button is set
// from the selection itself.
void Categorie::updateMetadataButton() {
    ui->btmMetadati->setEnabled(ui->twCategorie->selectionModel()->hasSelection());
}
