#include "preservation/ConservaFileDialog.h"

#include "account/DetailDialog.h"
#include "app/MessageBox.h"
#include "app/UrlOpener.h"
#include "classes/Categorie.h"
#include "classes/ClassFilter.h"
#include "platform/WindowFront.h"
#include "preservation/DialogUploadFile.h"
#include "service/QVWConn.h"
#include "ui_conservafiledialog.h"

#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QHeaderView>
#include <QSqlQuery>
#include <QSignalBlocker>
#include <QSqlQueryModel>
#include <QTabBar>
#include <QUrl>

ConservaFileDialog::ConservaFileDialog(const QString &filePath, QNetworkCookieJar *cookieJar,
                                       const QString &idBuckets, const QString &bucketName,
                                       const QString &previousHash, bool replaceMode,
                                       QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ConservaFileDialog)
    , filePath(QDir::toNativeSeparators(filePath))
    , cookieJar(cookieJar)
    , conn(new QVWConn(cookieJar, false))
    , idBuckets(idBuckets)
    , bucketName(bucketName)
    , replaceMode(replaceMode)
    , classModel(new QSqlQueryModel(this))
    , groupModel(new QSqlQueryModel(this))
    , loadingMovie(QStringLiteral(":/images/loading.gif")) {
    conn->setParent(this);
    ui->setupUi(this);
    setFixedSize(size());
    // Only the program turns the pages.
    ui->tabUpload->tabBar()->hide();
    ui->lblLoading->hide();
    ui->lblLoading_2->hide();
    ui->lblLoading->setMovie(&loadingMovie);
    ui->lblLoading_2->setMovie(&loadingMovie);
    ui->lblDescMetadati->show();
    ui->lblTitleSuccess->clear();
    ui->lblTitleFailure->clear();
    setStyleSheet(QStringLiteral("QToolTip {background-color: #2a82da;  }"));
    for (QTableView *view : {ui->tbwListGroup, ui->twListCateg}) {
        view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        view->setSelectionMode(QAbstractItemView::SingleSelection);
        view->setSelectionBehavior(QAbstractItemView::SelectRows);
        view->verticalHeader()->hide();
        view->horizontalHeader()->setStretchLastSection(true);
    }

    if (!replaceMode) {
        setWindowTitle(QStringLiteral("Conservazione del file ") +
                       QFileInfo(filePath).fileName() + QStringLiteral(" (") + bucketName +
                       QStringLiteral(")"));
        ui->tabUpload->setCurrentIndex(ClassPage);
    } else {
        this->previousHash = previousHash;
        setWindowTitle(QStringLiteral("Rettifica del file ") +
                       QFileInfo(fileColumn(QStringLiteral("fullpath"), previousHash)).fileName() +
                       QStringLiteral(" con ") + QFileInfo(filePath).fileName());
        idFolder = folderColumn(QStringLiteral("idfolder"), previousHash).toInt();
        ui->tabUpload->setCurrentIndex(UploadPage);
    }

    connect(conn, &QVWConn::commandFailure, this, &ConservaFileDialog::onCommandFailure);
    connect(conn, &QVWConn::syncCategorieOK, this, &ConservaFileDialog::onSyncCategorieOK);
    connect(ui->btmStartUpload, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickStartUpload);
    connect(ui->btmConserva, &QPushButton::clicked, this, &ConservaFileDialog::onClickConserva);
    connect(ui->btmVisionaFile2, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickVisionaFile);
    connect(ui->btmOpenCateg, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickOpenCategories);
    connect(ui->btmIndietroFailure, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickIndietroToInsertMetadata);
    connect(ui->btmVediDettagli, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickShowDetails);
    for (QPushButton *close : {ui->btmClose1, ui->btmClose3, ui->btmClose4, ui->btmClose5})
        connect(close, &QPushButton::clicked, this, &ConservaFileDialog::onClickCloseWindow);
    connect(ui->btmShowDetailError, &QPushButton::clicked, this,
            &ConservaFileDialog::onClickShowDetailError);
    connect(ui->leSearch, &QLineEdit::textChanged, this, &ConservaFileDialog::onFilterList);

    if (!replaceMode) {
        loadingMovie.start();
        ui->lblLoading_2->show();
        ui->btmOpenCateg->setEnabled(false);
        ui->btmStartUpload->setEnabled(false);
        conn->syncFolder();
    } else {
        onClickStartUpload();
    }
}

ConservaFileDialog::~ConservaFileDialog() {
    delete ui;
}

void ConservaFileDialog::showClasses(QSqlQueryModel *model) {
    model->setHeaderData(0, Qt::Horizontal, QStringLiteral("ID"));
    model->setHeaderData(1, Qt::Horizontal, QStringLiteral("Seleziona una classe"));
    ui->twListCateg->setModel(model);
    ui->twListCateg->hideColumn(0);
    ui->twListCateg->setColumnWidth(1, ui->twListCateg->width());
}

void ConservaFileDialog::requeryClasses(const QString &group, const QString &text) {
    database.open();
    QSqlQuery query(database.db);
    ClassFilter::selectClasses(query, idBuckets, group, text);
    classModel->setQuery(std::move(query));
    while (classModel->canFetchMore())
        classModel->fetchMore();
    showClasses(classModel);
    database.close();
}

void ConservaFileDialog::onSyncCategorieOK() {
    loadingMovie.stop();
    ui->lblLoading_2->hide();
    database.open();
    QSqlQuery groups(database.db);
    ClassFilter::selectGroups(groups, idBuckets);
    groupModel->setQuery(std::move(groups));
    while (groupModel->canFetchMore())
        groupModel->fetchMore();
    groupModel->setHeaderData(0, Qt::Horizontal, QStringLiteral("Filtra per gruppi"));
    groupModel->setHeaderData(0, Qt::Horizontal, int(Qt::AlignLeft | Qt::AlignVCenter),
                              Qt::TextAlignmentRole);
    // A new model comes with a new selection model: connected afresh each time.
    ui->tbwListGroup->setModel(groupModel);
    ui->tbwListGroup->horizontalHeader()->show();
    ui->tbwListGroup->setColumnWidth(0, ui->twListCateg->width());
    connect(ui->tbwListGroup->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &ConservaFileDialog::onSelectedGroup, Qt::UniqueConnection);
    database.close();
    // The new group list has no selection; a search typed before the lists
    // came still applies.
    requeryClasses(QString(), ui->leSearch->text());
    ui->btmOpenCateg->setEnabled(true);
    ui->btmStartUpload->setEnabled(true);
}

QString ConservaFileDialog::selectedGroup() const {
    const QItemSelectionModel *selection = ui->tbwListGroup->selectionModel();
    const QModelIndexList rows = selection ? selection->selectedIndexes() : QModelIndexList();
    if (rows.isEmpty() || rows.first().row() == 0)
        return QString();
    return groupModel->index(rows.first().row(), 0).data().toString();
}

void ConservaFileDialog::onSelectedGroup(const QItemSelection &selected, const QItemSelection &) {
    if (selected.isEmpty())
        return;
    {
        // One query for the group, not one more for the cleared search.
        const QSignalBlocker quiet(ui->leSearch);
        ui->leSearch->clear();
    }
    requeryClasses(selectedGroup(), QString());
}

void ConservaFileDialog::onFilterList(const QString &text) {
    requeryClasses(selectedGroup(), text);
}

void ConservaFileDialog::onClickStartUpload() {
    ui->btmStartUpload->setEnabled(false);
    if (!replaceMode) {
        const QModelIndexList rows = ui->twListCateg->selectionModel()
                                         ? ui->twListCateg->selectionModel()->selectedIndexes()
                                         : QModelIndexList();
        if (rows.isEmpty()) {
            MessageBox::critical(this, QStringLiteral("Campo obbligatorio"),
                                 QStringLiteral("Devi selezionare una classe"));
            ui->btmStartUpload->setEnabled(true);
            return;
        }
        idFolder = classModel->index(rows.first().row(), 0).data().toInt();
    }
    listenToUpload(true);
    ui->tabUpload->setCurrentIndex(UploadPage);
    uploadDialog = new DialogUploadFile(conn, filePath, this);
    uploadDialog->setModal(true);
    connect(uploadDialog, &DialogUploadFile::cancelUpload, this,
            &ConservaFileDialog::onCancelUpload);
    uploadDialog->setMessage(QStringLiteral("Calcolo impronta in corso ..."));
    uploadDialog->show();
    hide();
    QPointer<ConservaFileDialog> self(this);
    QCoreApplication::processEvents();
    // The user may have cancelled in the progress window already.
    if (self && !cancelRequested)
        onStartUpload();
}

void ConservaFileDialog::onClickIndietroToInsertMetadata() {
    ui->tabUpload->setCurrentIndex(FieldsPage);
}

void ConservaFileDialog::onClickShowDetails() {
    emit showDetails(filePath);
    close();
}

void ConservaFileDialog::onClickCloseWindow() {
    close();
}

void ConservaFileDialog::onClickVisionaFile() {
    if (!UrlOpener::open(QUrl::fromLocalFile(QDir::fromNativeSeparators(filePath))))
        MessageBox::critical(
            this, QStringLiteral("Apertura file"),
            QStringLiteral(
                "Non è stato trovato nessun programma in grado di aprire il file selezionato"));
}

void ConservaFileDialog::onClickShowDetailError() {
    auto *detail = new DetailDialog(errorDetail, QStringLiteral("Dettaglio errore"), this);
    detail->setAttribute(Qt::WA_DeleteOnClose);
    detail->setModal(true);
    detail->show();
}

void ConservaFileDialog::onClickOpenCategories() {
    auto *classes = new Categorie(cookieJar, idBuckets, bucketName, nullptr);
    classes->setAttribute(Qt::WA_DeleteOnClose);
    // However the classes dialog ends ("Chiudi", its close button, a failed
    // synchronisation), the wizard comes back with fresh lists.
    connect(classes, &QDialog::finished, this, [this] {
        onSyncCategorieOK();
        Platform::bringToFront(this);
    });
    hide();
    classes->show();
    classes->syncCategorie();
}

void ConservaFileDialog::onCancelUpload() {
    skipCloseQuestion = true;
    cancelRequested = true;
    // A fingerprint under way stops at its next chunk and closes the wizard
    // itself: the loop still runs on this dialog.
    if (!fingerprinting)
        close();
}

void ConservaFileDialog::reject() {
    if (close())
        QDialog::reject();
}

void ConservaFileDialog::closeEvent(QCloseEvent *event) {
    emit closewindow();
    const int page = ui->tabUpload->currentIndex();
    if (skipCloseQuestion || page == SuccessPage || page == FailurePage) {
        event->accept();
        return;
    }
    const QString text =
        replaceMode ? QStringLiteral("Sei veramente sicuro di voler annullare la rettifica del file?")
                    : QStringLiteral(
                          "Sei veramente sicuro di voler annullare la conservazione del file?");
    const QString title =
        replaceMode ? QStringLiteral("Rettifica file") : QStringLiteral("Conservazione file");
    if (MessageBox::question(this, title, text) == QMessageBox::Ok)
        event->accept();
    else
        event->ignore();
}
