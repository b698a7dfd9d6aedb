// The wizard's traffic with the service: the fingerprint, the local rows
// written before each request, the upload and the field values.
#include "preservation/ConservaFileDialog.h"

#include "app/MessageBox.h"
#include "preservation/CalendarWidget.h"
#include "preservation/DialogUploadFile.h"
#include "preservation/Fingerprint.h"
#include "service/QVWConn.h"
#include "ui_conservafiledialog.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QDomDocument>
#include <QFile>
#include <QFileInfo>
#include <QHostInfo>
#include <QHttpMultiPart>
#include <QLabel>
#include <QLineEdit>
#include <QSqlQuery>

namespace {

// A file rewritten while it is read would otherwise never be sent; past this
// many changes in a row the user is asked to try again.
constexpr int kFingerprintRounds = 3;

QDomElement addText(QDomDocument &document, QDomElement &parent, const QString &name,
                    const QString &text) {
    QDomElement element = document.createElement(name);
    element.appendChild(document.createTextNode(text));
    parent.appendChild(element);
    return element;
}

QDomDocument requestDocument(QDomElement *root) {
    QDomDocument document;
    document.appendChild(document.createProcessingInstruction(
        QStringLiteral("xml"), QStringLiteral("version=\"1.0\" encoding=\"UTF-8\"")));
    *root = document.createElement(QStringLiteral("request"));
    document.appendChild(*root);
    return document;
}

} // namespace

ConservaFileDialog::FileState ConservaFileDialog::stateOf(const QString &path) {
    const QFileInfo info(path);
    return {info.exists() ? info.size() : -1, info.lastModified()};
}

QString ConservaFileDialog::fileFingerprint(const QString &path) {
    QPointer<ConservaFileDialog> self(this);
    fingerprinting = true;
    const QString digest = Fingerprint::ofFile(path, [self](qint64 size, qint64 offset) {
        if (self && self->uploadDialog)
            self->uploadDialog->setFingerprintProgress(size, offset);
        QCoreApplication::processEvents();
        return self && !self->cancelRequested;
    });
    if (!self)
        return QString();
    fingerprinting = false;
    return digest;
}

QString ConservaFileDialog::fileColumn(const QString &column, const QString &hash) {
    database.open();
    QSqlQuery query(database.db);
    query.prepare(QStringLiteral("SELECT ") + column +
                  QStringLiteral(" FROM files WHERE hash = ?"));
    query.addBindValue(hash);
    const QString value = query.exec() && query.next() ? query.value(0).toString() : QString();
    database.close();
    return value;
}

QString ConservaFileDialog::folderColumn(const QString &column, const QString &hash) {
    database.open();
    QSqlQuery query(database.db);
    query.prepare(QStringLiteral("SELECT folders.") + column +
                  QStringLiteral(" FROM folders INNER JOIN files ON files.folderid = "
                                 "folders.idfolder AND files.hash = ?"));
    query.addBindValue(hash);
    const QString value = query.exec() && query.next() ? query.value(0).toString() : QString();
    database.close();
    return value;
}

void ConservaFileDialog::listenToUpload(bool on) {
    disconnect(conn, &QVWConn::commandSuccessful, this, &ConservaFileDialog::onUploadFileOK);
    disconnect(conn, &QVWConn::retry, this, &ConservaFileDialog::onRetryUpload);
    if (!on)
        return;
    connect(conn, &QVWConn::commandSuccessful, this, &ConservaFileDialog::onUploadFileOK);
    connect(conn, &QVWConn::retry, this, &ConservaFileDialog::onRetryUpload);
}

void ConservaFileDialog::listenToValues(bool on) {
    disconnect(conn, &QVWConn::commandSuccessful, this, &ConservaFileDialog::onConservaFileOK);
    disconnect(conn, &QVWConn::retry, this, &ConservaFileDialog::conserva);
    if (!on)
        return;
    connect(conn, &QVWConn::commandSuccessful, this, &ConservaFileDialog::onConservaFileOK);
    connect(conn, &QVWConn::retry, this, &ConservaFileDialog::conserva);
}

void ConservaFileDialog::failFingerprint(const QString &text) {
    listenToUpload(false);
    if (uploadDialog)
        uploadDialog->close();
    MessageBox::critical(this, QStringLiteral("Errore"), text);
    skipCloseQuestion = true;
    close();
}

// Fingerprints the file unless `hash` is still its own, and again while the
// file changes under the reading: a fingerprint must belong to the bytes sent.
bool ConservaFileDialog::fingerprintUnchanged() {
    if (!hash.isEmpty() && stateOf(filePath) == hashedState)
        return true;
    QPointer<ConservaFileDialog> self(this);
    for (int round = 0; round < kFingerprintRounds; ++round) {
        if (round > 0 && uploadDialog)
            uploadDialog->setMessage(QStringLiteral(
                "Il documento è cambiato durante il calcolo dell'impronta: nuovo calcolo in "
                "corso ..."));
        const FileState before = stateOf(filePath);
        hash = fileFingerprint(filePath);
        if (!self)
            return false;
        if (cancelRequested) {
            hash.clear();
            listenToUpload(false);
            close();
            return false;
        }
        if (hash.isEmpty()) {
            failFingerprint(
                QStringLiteral("Errore durante il calcolo dell'impronta si prega di riprovare"));
            return false;
        }
        if (stateOf(filePath) == before) {
            hashedState = before;
            return true;
        }
    }
    hash.clear();
    failFingerprint(QStringLiteral("Il documento continua a cambiare mentre se ne calcola "
                                   "l'impronta: riprovare quando non è più in modifica"));
    return false;
}

void ConservaFileDialog::onStartUpload() {
    ui->btmConserva->setEnabled(false);
    database.open();
    QSqlQuery stale(database.db);
    stale.prepare(QStringLiteral("DELETE FROM files WHERE hash = ? AND folderid = ? AND (token = "
                                 "'' OR token IS NULL)"));
    stale.addBindValue(hash);
    stale.addBindValue(idFolder);
    stale.exec();
    database.close();

    if (!fingerprintUnchanged())
        return;

    const QFileInfo info(filePath);
    database.open();
    QSqlQuery insert(database.db);
    insert.prepare(QStringLiteral("INSERT INTO files (hash, hash4k, last_modified, fullpath, "
                                  "token, folderid, username) VALUES (?, ?, ?, ?, ?, ?, ?)"));
    insert.addBindValue(hash);
    insert.addBindValue(Fingerprint::ofHead(filePath));
    insert.addBindValue(info.lastModified().toString(Qt::ISODate));
    insert.addBindValue(filePath);
    insert.addBindValue(QString(""));
    insert.addBindValue(idFolder);
    insert.addBindValue(conn->username());
    insert.exec();
    database.close();

    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    auto *file = new QFile(info.absoluteFilePath(), multiPart);
    file->open(QIODevice::ReadOnly);
    requestBody = uploadDocument(info.lastModified().toString(QStringLiteral("dd/MM/yyyy hh:mm:ss")));
    QHttpPart xmlPart;
    xmlPart.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("text/xml;charset=UTF-8"));
    xmlPart.setHeader(QNetworkRequest::ContentDispositionHeader,
                      QByteArray("form-data; name=\"xml\""));
    xmlPart.setBody(requestBody);
    QHttpPart filePart;
    filePart.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/octet-stream"));
    filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QByteArray("form-data; name=\"") + filePath.toUtf8() + QByteArray("\""));
    filePart.setBodyDevice(file);
    multiPart->append(xmlPart);
    multiPart->append(filePart);

    if (uploadDialog) {
        uploadDialog->setMessage(QStringLiteral("Upload file in corso ..."));
        uploadDialog->resetProgress();
    }
    conn->uploadMultipart(multiPart);
}

QByteArray ConservaFileDialog::uploadDocument(const QString &lastModified) const {
    QDomElement root;
    QDomDocument document = requestDocument(&root);
    addText(document, root, QStringLiteral("action"),
            replaceMode ? QStringLiteral("sostituiscifile") : QStringLiteral("uploadfile"));
    addText(document, root, QStringLiteral("idfolder"), QString::number(idFolder));
    addText(document, root, QStringLiteral("last_modified"), lastModified);
    addText(document, root, QStringLiteral("hashfile"), hash);
    if (replaceMode)
        addText(document, root, QStringLiteral("hash"), previousHash);
    return document.toByteArray(1);
}

void ConservaFileDialog::onRetryUpload() {
    listenToUpload(true);
    onStartUpload();
}

QByteArray ConservaFileDialog::valuesDocument(const QMap<QString, QString> &values) const {
    QDomElement root;
    QDomDocument document = requestDocument(&root);
    addText(document, root, QStringLiteral("action"),
            replaceMode ? QStringLiteral("sostituiscivaluemetadati")
                        : QStringLiteral("savevaluemetadati"));
    addText(document, root, QStringLiteral("hash"), hash);
    if (replaceMode)
        addText(document, root, QStringLiteral("hashprecedente"), previousHash);
    addText(document, root, QStringLiteral("folderid"), QString::number(idFolder));
    addText(document, root, QStringLiteral("computername"), QHostInfo::localHostName());
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        QDomElement field = document.createElement(QStringLiteral("metadato"));
        field.setAttribute(QStringLiteral("key"), it.key());
        field.setAttribute(QStringLiteral("value"), it.value());
        root.appendChild(field);
    }
    return document.toByteArray(1);
}

void ConservaFileDialog::conserva() {
    ui->lblDescMetadati->show();
    ui->tbHelp->clear();
    for (QLabel *label : std::as_const(fieldLabels))
        label->setStyleSheet(QStringLiteral("color:black;"));

    QMap<QString, QString> values;
    for (QWidget *editor : std::as_const(fieldEditors)) {
        if (auto *calendar = qobject_cast<CalendarWidget *>(editor))
            values.insert(calendar->comboBox->property("keyrow").toString(),
                          calendar->lineEdit->text());
        else if (auto *box = qobject_cast<QComboBox *>(editor))
            values.insert(box->property("keyrow").toString(), box->currentText());
    }
    requestBody = valuesDocument(values);

    database.open();
    database.db.transaction();
    QSqlQuery store(database.db);
    store.prepare(QStringLiteral(
        "REPLACE INTO metadati_values (idmetadata, value, hash) VALUES (?, ?, ?)"));
    for (auto it = values.cbegin(); it != values.cend(); ++it) {
        store.bindValue(0, it.key().toInt());
        store.bindValue(1, it.value());
        store.bindValue(2, hash);
        store.exec();
    }
    database.db.commit();
    database.close();

    listenToValues(true);
    ui->lblLoading->show();
    loadingMovie.start();
    ui->btmConserva->setEnabled(false);
    ui->btmVisionaFile2->setEnabled(false);
    ui->btmClose3->setEnabled(true);
    conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                              QByteArray("text/xml;charset=UTF-8"));
    conn->sendRequest(&requestBody);
}
