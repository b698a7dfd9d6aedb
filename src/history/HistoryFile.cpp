#include "history/HistoryFile.h"

#include "app/FileDialog.h"
#include "app/MessageBox.h"
#include "history/ExhibitRequest.h"
#include "history/RestoreDownload.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "ui_historyfile.h"

#include <QDir>

HistoryFile::HistoryFile(QNetworkCookieJar *cookieJar, const QString &hash,
                         const QString &folderId, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::HistoryFile)
    , hash(hash)
    , folderId(folderId)
    , conn(new QVWConn(cookieJar, false))
    , loadingMovie(QStringLiteral(":/images/loading.gif"))
    , exhibitor(this)
    , restore(new RestoreDownload(conn, {QStringLiteral("Ripristina file"),
                                         QStringLiteral("Ripristino file"),
                                         QStringLiteral("File ripristinato")},
                                  this))
    , exhibit(new ExhibitRequest(conn, &exhibitor, false, this)) {
    ui->setupUi(this);
    conn->setParent(this);
    ui->lblLoading->setMovie(&loadingMovie);
    ui->lblLoading->hide();
    ui->btmEsibisci->hide();
    ui->btmRipristina->hide();

    QTableWidget *table = ui->tbwListHistory;
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({QStringLiteral("Hash"), QStringLiteral("token"),
                                      QStringLiteral("File"), QStringLiteral("Percorso"),
                                      QStringLiteral("Dimensione"), QStringLiteral("Data"),
                                      QStringLiteral("IDFolders")});
    for (int column : {Hash, Token, FolderId})
        table->hideColumn(column);
    const int widths[][2] = {{File, 180}, {Path, 300}, {Size, 85}, {Date, 150}};
    for (const auto &width : widths)
        table->setColumnWidth(width[0], width[1]);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);

    connect(table, &QTableWidget::itemClicked, this, &HistoryFile::onSelectedFile);
    connect(ui->btmClose, &QPushButton::clicked, this, &QDialog::close);
    connect(ui->btmEsibisci, &QPushButton::clicked, this, &HistoryFile::onClickEsibisci);
    connect(ui->btmRipristina, &QPushButton::clicked, this, &HistoryFile::onClickRipristina);
    onDownloadHistory();
}

HistoryFile::~HistoryFile() {
    delete ui;
}

void HistoryFile::onDownloadHistory() {
    followHistory(true);
    loadingMovie.start();
    ui->lblLoading->show();
    requestData = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>"
                                 "history</action><hash>%1</hash><folderid>%2</folderid>"
                                 "</request>")
                      .arg(hash, folderId)
                      .toUtf8();
    conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                              QStringLiteral("text/xml;charset=UTF-8"));
    conn->setDownloadMode(false);
    conn->sendRequest(&requestData);
}

void HistoryFile::onDownloadHistoryOK(const QDomElement &body, const QString &status) {
    followHistory(false);
    stopLoading();
    if (status != STATUS_HISTORY_OK) {
        MessageBox::critical(this, QStringLiteral("Storia file"),
                             QStringLiteral("Errore nel caricamento."));
        return;
    }
    const QDomNodeList files = body.elementsByTagName(QStringLiteral("file"));
    QTableWidget *table = ui->tbwListHistory;
    table->clearContents();
    table->setRowCount(files.size());
    for (int row = 0; row < files.size(); ++row) {
        const QDomElement file = files.item(row).toElement();
        // The path is the preserving computer's, in its own form (maybe
        // Windows'): it is split as text, never resolved against this one.
        const QString path = file.attribute(QStringLiteral("filename"));
        const qsizetype slash = qMax(path.lastIndexOf(QLatin1Char('/')),
                                     path.lastIndexOf(QLatin1Char('\\')));
        const QString cells[ColumnCount] = {
            file.attribute(QStringLiteral("hash")),
            file.attribute(QStringLiteral("token")),
            path.mid(slash + 1),
            slash > 0 ? path.left(slash) : path.left(slash + 1),
            file.attribute(QStringLiteral("filesize")),
            file.attribute(QStringLiteral("tsfiles")),
            file.attribute(QStringLiteral("idfolders"))};
        for (int column = 0; column < ColumnCount; ++column) {
            auto *item = new QTableWidgetItem(cells[column]);
            item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
            table->setItem(row, column, item);
        }
    }
}

void HistoryFile::onDownloadHistoryKO(const QString &description, const QString &) {
    followHistory(false);
    stopLoading();
    MessageBox::critical(this, QStringLiteral("Errore"), description);
}

void HistoryFile::onSelectedFile(QTableWidgetItem *) {
    ui->btmEsibisci->show();
    ui->btmRipristina->show();
}

void HistoryFile::onClickRipristina() {
    if (ui->tbwListHistory->currentRow() < 0)
        return;
    savePath = FileDialog::getSaveFileName(this, QStringLiteral("Ripristino file"),
                                           QDir::homePath() + QLatin1Char('/') +
                                               currentCell(File));
    if (savePath.isEmpty())
        return;
    restore->start(savePath, currentCell(Hash), currentCell(FolderId));
}

void HistoryFile::onClickEsibisci() {
    if (ui->tbwListHistory->currentRow() < 0)
        return;
    exhibit->send(currentCell(Token));
}

void HistoryFile::followHistory(bool on) {
    disconnect(conn, &QVWConn::commandSuccessful, this, &HistoryFile::onDownloadHistoryOK);
    disconnect(conn, &QVWConn::commandFailure, this, &HistoryFile::onDownloadHistoryKO);
    disconnect(conn, &QVWConn::retry, this, &HistoryFile::onDownloadHistory);
    if (!on)
        return;
    connect(conn, &QVWConn::commandSuccessful, this, &HistoryFile::onDownloadHistoryOK);
    connect(conn, &QVWConn::commandFailure, this, &HistoryFile::onDownloadHistoryKO);
    connect(conn, &QVWConn::retry, this, &HistoryFile::onDownloadHistory);
}

void HistoryFile::stopLoading() {
    loadingMovie.stop();
    ui->lblLoading->hide();
}

QString HistoryFile::currentCell(int column) const {
    const QTableWidgetItem *item = ui->tbwListHistory->item(ui->tbwListHistory->currentRow(), column);
    return item ? item->text() : QString();
}
