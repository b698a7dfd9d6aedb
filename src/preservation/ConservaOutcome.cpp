// How the wizard ends: the token of an accepted document, every failure by
// the page it arrives on, and the local rows kept in step with the service.
#include "preservation/ConservaFileDialog.h"

#include "app/MessageBox.h"
#include "platform/ShellIcons.h"
#include "preservation/DialogUploadFile.h"
#include "service/QVWConn.h"
#include "service/ServiceStatus.h"
#include "ui_conservafiledialog.h"

#include <QCoreApplication>
#include <QSqlQuery>

namespace {

// Shorter details go under the failure's title; longer ones behind a button.
constexpr int kInlineDetail = 40;

void run(QSqlDatabase db, const QString &sql, const QVariantList &values) {
    QSqlQuery query(db);
    query.prepare(sql);
    for (const QVariant &value : values)
        query.addBindValue(value);
    query.exec();
}

} // namespace

void ConservaFileDialog::onConservaFileOK(const QDomElement &body, const QString &) {
    const QString token =
        body.elementsByTagName(QStringLiteral("token")).item(0).toElement().text();
    database.open();
    database.db.transaction();
    // Rows of this file left token-less in other classes by abandoned attempts
    // go before the token is written, or the token would keep them.
    if (!replaceMode)
        run(database.db,
            QStringLiteral("DELETE FROM files WHERE hash = ? and folderid != ? AND (token = '' OR "
                           "token IS NULL)"),
            {hash, idFolder});
    run(database.db, QStringLiteral("UPDATE files SET token = ? WHERE hash = ?"), {token, hash});
    if (replaceMode && previousHash != hash) {
        run(database.db, QStringLiteral("DELETE FROM metadati_values WHERE hash = ?"),
            {previousHash});
        run(database.db, QStringLiteral("DELETE FROM files WHERE hash = ?"), {previousHash});
    }
    database.db.commit();
    database.close();

    ui->lblTitleSuccess->setText(replaceMode ? QStringLiteral("Documento sostituito correttamente")
                                             : QStringLiteral("Documento conservato correttamente"));
    ui->tabUpload->setCurrentIndex(SuccessPage);
    listenToValues(false);
    if (replaceMode)
        emit sostituizioneCompleted();
    Platform::refreshShellIcons();
    loadingMovie.stop();
    ui->lblLoading->hide();
    conn->syncFolder();
}

void ConservaFileDialog::showFailure(const QString &title, const QString &description) {
    QString shown = title;
    if (!description.isEmpty()) {
        QString pieces = description;
        pieces.replace(QStringLiteral("<br/>"), QStringLiteral("\n"));
        errorDetail = pieces.toHtmlEscaped();
        if (errorDetail.size() < kInlineDetail) {
            // The label shows plain text: the pieces as sent, markup and all.
            shown += QLatin1Char('\n') + pieces;
            ui->btmShowDetailError->hide();
        } else {
            ui->btmShowDetailError->show();
        }
    }
    ui->lblTitleFailure->setText(shown);
}

void ConservaFileDialog::onCommandFailure(const QString &description, const QString &status) {
    if (status == STATUS_NETWORK_ERROR)
        MessageBox::critical(this, QStringLiteral("Errore"), description);
    switch (ui->tabUpload->currentIndex()) {
    case ClassPage:
        MessageBox::critical(this, QStringLiteral("Sincronizzazione classi"), description);
        skipCloseQuestion = true;
        close();
        break;
    case UploadPage:
        listenToUpload(false);
        showFailure(QStringLiteral("Upload del file non riuscito"), description);
        ui->btmIndietroFailure->hide();
        if (uploadDialog)
            uploadDialog->close();
        ui->tabUpload->setCurrentIndex(FailurePage);
        show();
        break;
    case FieldsPage:
        if (status == STATUS_VALIDATION_KO) {
            showValidation(description);
            break;
        }
        listenToValues(false);
        ui->btmIndietroFailure->show();
        database.open();
        database.db.transaction();
        run(database.db,
            QStringLiteral("DELETE FROM metadati_values WHERE hash IN (SELECT hash FROM files "
                           "WHERE hash = ? AND (token = '' OR token IS NULL))"),
            {hash});
        run(database.db,
            QStringLiteral("DELETE FROM files WHERE hash = ? AND (token = '' OR token IS NULL)"),
            {hash});
        database.db.commit();
        database.close();
        ui->tabUpload->setCurrentIndex(FailurePage);
        showFailure(replaceMode ? QStringLiteral("Rettifica del documento non riuscita")
                                : QStringLiteral("Conservazione del documento non riuscita"),
                    description);
        break;
    default:
        break;
    }
    loadingMovie.stop();
    ui->lblLoading->hide();
    ui->lblLoading_2->hide();
    ui->btmConserva->setEnabled(true);
    ui->btmVisionaFile2->setEnabled(true);
    ui->btmClose3->setEnabled(true);
    QCoreApplication::processEvents();
}
