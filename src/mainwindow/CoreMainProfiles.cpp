// Profiles, synchronisation, quota label and pie, the classes tab, the help
// and buy links, the change-password link and the proxy settings.
#include "mainwindow/CoreMain.h"

#include "account/ChangePwdDialog.h"
#include "account/ProxyDialog.h"
#include "app/MessageBox.h"
#include "app/TrayAvailability.h"
#include "app/UrlOpener.h"
#include "classes/ClassTableModel.h"
#include "classes/MetadatiCategories.h"
#include "platform/WindowFront.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "ui_coremain.h"

#include <QSignalBlocker>
#include <QSqlQuery>
#include <QUrl>

namespace {

// A figure of the table "buckets": a text that is not a 32-bit decimal
// integer counts as 0.
qint64 figure(const QString &text) {
    bool ok = false;
    const int value = text.toInt(&ok, 10);
    return ok ? value : 0;
}

} // namespace

void CoreMain::loadBuckets() {
    ui->cbBuckets->clear();
    if (database.open()) {
        QSqlQuery query(database.db);
        if (query.exec(QStringLiteral("SELECT idbuckets, description, quota, used, unit, div FROM "
                                      "buckets"))) {
            while (query.next())
                ui->cbBuckets->addItem(query.value(1).toString(), query.value(0).toString());
        }
    }
    database.close();
    shownIdBuckets.clear();
    if (ui->cbBuckets->count() > 0) {
        idBuckets = ui->cbBuckets->itemData(0).toString();
        bucketName = ui->cbBuckets->itemText(0);
    } else {
        idBuckets.clear();
        bucketName.clear();
    }
    updateQuota();
}

void CoreMain::onChangeBucket(int index) {
    idBuckets = ui->cbBuckets->itemData(index, Qt::UserRole).toString();
    bucketName = ui->cbBuckets->itemText(index);
    syncCategorie();
}

void CoreMain::connectSync() {
    connect(conn, &QVWConn::commandSuccessful, this, &CoreMain::onSyncCategorieOK,
            Qt::UniqueConnection);
    connect(conn, &QVWConn::retry, this, &CoreMain::syncCategorie, Qt::UniqueConnection);
    connect(conn, &QVWConn::commandFailure, this, &CoreMain::onSyncCategorieKO,
            Qt::UniqueConnection);
    // A connection without credentials meets an expired session with this
    // signal alone; without it the synchronisation would wait for ever.
    connect(conn, &QVWConn::loginFailure, this, &CoreMain::onSyncSessionLost, Qt::UniqueConnection);
}

void CoreMain::disconnectSync() {
    disconnect(conn, &QVWConn::commandSuccessful, this, &CoreMain::onSyncCategorieOK);
    disconnect(conn, &QVWConn::retry, this, &CoreMain::syncCategorie);
    disconnect(conn, &QVWConn::commandFailure, this, &CoreMain::onSyncCategorieKO);
    disconnect(conn, &QVWConn::loginFailure, this, &CoreMain::onSyncSessionLost);
}

void CoreMain::syncCategorie() {
    ui->lblLoading->setMovie(&loadingMovie);
    ui->lblLoading->show();
    loadingMovie.start();
    connectSync();
    conn->syncFolder();
}

void CoreMain::onSyncCategorieOK() {
    disconnectSync();
    shownIdBuckets = idBuckets;
    loadFileList();
    if (!detailsWanted.isEmpty())
        selectListedFile(std::exchange(detailsWanted, QString()));
    loadCategories();
    loadingMovie.stop();
    ui->lblLoading->hide();
    updateQuota();
}

void CoreMain::onSyncCategorieKO(const QString &message, const QString &) {
    disconnectSync();
    loadingMovie.stop();
    ui->lblLoading->hide();
    restoreShownProfile();
    MessageBox::critical(this, QStringLiteral("Errore"), message);
    // The tray brings the window back; without one it stays where it is.
    if (trayAvailable())
        hide();
}

void CoreMain::restoreShownProfile() {
    const int index = ui->cbBuckets->findData(shownIdBuckets);
    if (index < 0 || shownIdBuckets == idBuckets)
        return;
    const QSignalBlocker quiet(ui->cbBuckets);
    ui->cbBuckets->setCurrentIndex(index);
    idBuckets = shownIdBuckets;
    bucketName = ui->cbBuckets->itemText(index);
}

void CoreMain::onSyncSessionLost() {
    onSyncCategorieKO(QStringLiteral("La sessione è scaduta: accedi di nuovo e riprova"),
                      STATUS_SESSION_EXPIRED);
}

void CoreMain::updateQuota() {
    // A profile without a row shows no figures, never those shown before.
    quota.clear();
    used.clear();
    unit.clear();
    div.clear();
    if (database.open()) {
        QSqlQuery query(database.db);
        query.prepare(
            QStringLiteral("SELECT quota, used, unit, div FROM buckets WHERE idbuckets = ?"));
        query.addBindValue(idBuckets);
        if (query.exec() && query.next()) {
            quota = query.value(0).toString();
            used = query.value(1).toString();
            unit = query.value(2).toString();
            div = query.value(3).toString();
        }
    }
    database.close();

    userFigures.clear();
    if (quota == QLatin1String("0") || quota.isEmpty()) {
        const int chartTab = 2;
        if (ui->tabWidget->count() > chartTab)
            ui->tabWidget->removeTab(chartTab);
        ui->wwCharts->clearUsage();
        showUserLine();
        ui->lblUserConn->setStyleSheet(QStringLiteral("QLabel {color:black;}"));
        return;
    }
    if (ui->tabWidget->indexOf(ui->tabStatistiche) < 0)
        ui->tabWidget->addTab(ui->tabStatistiche, QStringLiteral("Statistiche utilizzo"));

    // A divisor of 0 shows every figure as 0 rather than failing.
    const qint64 divisor = figure(div);
    const qint64 usedAmount = divisor != 0 ? figure(used) / divisor : 0;
    const qint64 quotaAmount = divisor != 0 ? figure(quota) / divisor : 0;
    const qint64 freeAmount = quotaAmount - usedAmount;
    ui->wwCharts->showUsage(freeAmount, usedAmount, unit);

    userFigures = QString::number(usedAmount) + QStringLiteral(" di ") +
                  QString::number(quotaAmount) + QStringLiteral(" ") + unit;
    showUserLine();
    const bool nearlyFull = quotaAmount >= 1 && usedAmount * 100 / quotaAmount >= 80;
    ui->lblUserConn->setStyleSheet(nearlyFull ? QStringLiteral("QLabel {color:red;}")
                                              : QStringLiteral("QLabel {color:black;}"));
}

void CoreMain::showUserLine() {
    // The name gives way first: at the window's smallest the figures and the
    // buy link stay whole.
    QLabel *label = ui->lblUserConn;
    const QFontMetrics metrics(label->font());
    const QString greeting = QStringLiteral("Sei connesso come: ");
    const QString link = QStringLiteral("(Acquista spazio)");
    const QString figures =
        userFigures.isEmpty() ? QString() : QStringLiteral(" (") + userFigures + QStringLiteral(") ");
    const int room = label->contentsRect().width() -
                     metrics.horizontalAdvance(greeting + figures +
                                               (userFigures.isEmpty() ? QString() : link)) -
                     8;
    const QString name = metrics.elidedText(conn->username(), Qt::ElideRight, qMax(room, 0));
    if (userFigures.isEmpty()) {
        label->setTextFormat(Qt::PlainText);
        label->setText(greeting + name);
        return;
    }
    label->setTextFormat(Qt::RichText);
    label->setText(QStringLiteral("<html><head/><body><p>") + greeting + name.toHtmlEscaped() +
                   figures.toHtmlEscaped() +
                   QStringLiteral("<a href=\"#buyquota\"><span style=\" font-weight: normal; "
                                  "text-decoration: underline; color:#0000ff;\">") +
                   link + QStringLiteral("</span></a></p></body></html>"));
}

void CoreMain::onClickBuyQuota(const QString &link) {
    if (link == QLatin1String("#buyquota") && quota != QLatin1String("0") && !quota.isEmpty())
        openServicePage(QStringLiteral("/vazedo/BuyQuota/"));
}

void CoreMain::onClickHelp() {
    openServicePage(QStringLiteral("/vazedo/Help/"));
}

void CoreMain::openServicePage(const QString &path) {
    UrlOpener::openOrTell(this, QUrl(setting.value(QStringLiteral("url")) + path));
}

void CoreMain::loadCategories() {
    database.open();
    delete categoryModel;
    categoryModel = new ClassTableModel(this, database.db, idBuckets);
    categoryModel->showIn(ui->twCategorie);
    categoryModel->reload();
    database.close();
}

void CoreMain::onFilterListCateg(const QString &text) {
    if (!categoryModel)
        return;
    database.open();
    categoryModel->filterByName(text);
    database.close();
}

void CoreMain::onClickShowMetadataCurrent() {
    const QModelIndex current = ui->twCategorie->currentIndex();
    if (current.isValid())
        onClickShowMetadata(current);
}

void CoreMain::onClickShowMetadata(const QModelIndex &index) {
    if (!categoryModel || !index.isValid())
        return;
    const int row = index.row();
    onClickShowMetadata(categoryModel->index(row, ClassTableModel::Id).data().toInt(),
                        categoryModel->index(row, ClassTableModel::Name).data().toString());
}

void CoreMain::onClickShowMetadata(int idFolder, const QString &className) {
    metadataDialog = new MetadatiCategories(cookieJar, this, idFolder, className);
    metadataDialog->setAttribute(Qt::WA_DeleteOnClose);
    metadataDialog->setModal(true);
    metadataDialog->show();
}

void CoreMain::onClickChangePassword() {
    if (!changePwdDialog) {
        changePwdDialog = new ChangePwdDialog(cookieJar, nullptr);
        changePwdDialog->setModal(true);
        connect(changePwdDialog, &QObject::destroyed, this, &CoreMain::resetWinChangePwd);
        changePwdDialog->setAttribute(Qt::WA_DeleteOnClose);
    }
    Platform::bringToFront(changePwdDialog);
}

void CoreMain::resetWinChangePwd() {
    // The dialog is half destroyed by now: only its QObject part is used.
    disconnect(sender(), &QObject::destroyed, this, &CoreMain::resetWinChangePwd);
    changePwdDialog = nullptr;
}

void CoreMain::onClickProxySettings() {
    proxyDialog = new ProxyDialog(nullptr);
    proxyDialog->setAttribute(Qt::WA_DeleteOnClose);
    connect(proxyDialog, &QDialog::finished, this, &CoreMain::onCloseProxyDialog);
    proxyDialog->setModal(true);
    proxyDialog->show();
}

void CoreMain::onCloseProxyDialog(int) {
    if (proxyDialog)
        disconnect(proxyDialog, &QDialog::finished, this, &CoreMain::onCloseProxyDialog);
    conn->applyProxySettings();
}
