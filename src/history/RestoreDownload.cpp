#include "history/RestoreDownload.h"

#include "app/MessageBox.h"
#include "history/DialogDownloadFile.h"
#include "history/RestoreFile.h"
#include "service/QVWConn.h"

#include <QDir>
#include <QNetworkReply>

RestoreDownload::RestoreDownload(QVWConn *conn, const Texts &texts, QWidget *window)
    : QObject(window)
    , m_conn(conn)
    , m_texts(texts)
    , m_window(window) {}

RestoreDownload::~RestoreDownload() {
    delete m_dialog;
}

bool RestoreDownload::start(const QString &target, const QString &hash,
                            const QString &folderId) {
    m_target = target;
    m_hash = hash;
    m_folderId = folderId;
    m_body = QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>ripristina"
                            "</action><hash>%1</hash><folderid>%2</folderid></request>")
                 .arg(hash, folderId)
                 .toUtf8();
    connect(m_conn, &QVWConn::downloadFinish, this, &RestoreDownload::onDownloadFinish,
            Qt::UniqueConnection);
    connect(m_conn, &QVWConn::retry, this, &RestoreDownload::onRetry, Qt::UniqueConnection);
    connect(m_conn, &QVWConn::commandFailure, this, &RestoreDownload::onRefused,
            Qt::UniqueConnection);
    send();
    return m_file != nullptr;
}

void RestoreDownload::send() {
    // One download window at most, whatever the attempt.
    if (m_dialog) {
        m_dialog->close();
        m_dialog->deleteLater();
    }
    m_file = std::make_unique<RestoreFile>(m_target, m_hash);
    if (!m_file->open()) {
        const QString reason = m_file->errorString();
        m_file.reset();
        end();
        MessageBox::critical(m_window, m_texts.boxTitle,
                             QStringLiteral("Impossibile scrivere il file %1: %2")
                                 .arg(QDir::toNativeSeparators(m_target), reason));
        return;
    }
    m_conn->request().setHeader(QNetworkRequest::ContentTypeHeader,
                                QStringLiteral("text/xml;charset=UTF-8"));
    m_conn->setDownloadMode(true);
    m_conn->sendRequest(&m_body);
    m_file->attach(m_conn->currentReply());
    m_dialog = new DialogDownloadFile(m_conn, nullptr);
    m_dialog->setModal(true);
    m_dialog->setWindowTitle(m_texts.dialogTitle);
    m_dialog->prepareDownload();
    m_dialog->show();
}

void RestoreDownload::onRetry() {
    if (m_file)
        send();
}

void RestoreDownload::onRefused() {
    // The download window tells the user; the copy is simply not kept.
    // It closes itself after its box; it goes with the next attempt or this.
    m_file.reset();
    end();
}

void RestoreDownload::onDownloadFinish(QNetworkReply *reply) {
    const RestoreFile::Outcome outcome =
        m_file ? m_file->finish(reply) : RestoreFile::Outcome::NetworkError;
    const QString reason = m_file ? m_file->errorString() : QString();
    m_file.reset();
    if (m_dialog) {
        m_dialog->hide();
        m_dialog->deleteLater();
    }
    end();
    switch (outcome) {
    case RestoreFile::Outcome::Saved:
        MessageBox::information(m_window, m_texts.boxTitle, m_texts.savedText);
        break;
    case RestoreFile::Outcome::NetworkError:
        MessageBox::critical(m_window, m_texts.boxTitle,
                             QStringLiteral("Si è verificato un errore durante il download del "
                                            "file"));
        break;
    case RestoreFile::Outcome::WriteError:
        MessageBox::critical(m_window, m_texts.boxTitle,
                             QStringLiteral("Impossibile scrivere il file %1: %2")
                                 .arg(QDir::toNativeSeparators(m_target), reason));
        break;
    case RestoreFile::Outcome::Altered:
        MessageBox::critical(m_window, m_texts.boxTitle,
                             QStringLiteral("Il file ricevuto non corrisponde all'impronta del "
                                            "documento conservato"));
        break;
    }
}

void RestoreDownload::end() {
    disconnect(m_conn, &QVWConn::downloadFinish, this, &RestoreDownload::onDownloadFinish);
    disconnect(m_conn, &QVWConn::retry, this, &RestoreDownload::onRetry);
    disconnect(m_conn, &QVWConn::commandFailure, this, &RestoreDownload::onRefused);
    m_conn->setDownloadMode(false);
}
