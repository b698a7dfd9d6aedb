#pragma once

#include "history/Exhibitor.h"

#include <QDialog>
#include <QDomElement>
#include <QMovie>
#include <QString>

class ExhibitRequest;
class QNetworkCookieJar;
class QTableWidgetItem;
class QVWConn;
class RestoreDownload;

namespace Ui {
class HistoryFile;
}

// "Storia del file": every preserved version of one document as the service
// reports it; a chosen version can be downloaded or exhibited. It talks to
// the service through a connection of its own on the shared cookie jar.
class HistoryFile : public QDialog {
    Q_OBJECT
public:
    HistoryFile(QNetworkCookieJar *cookieJar, const QString &hash, const QString &folderId,
                QWidget *parent);
    ~HistoryFile() override;

    enum Column { Hash, Token, File, Path, Size, Date, FolderId, ColumnCount };

public slots:
    void onDownloadHistory();
    void onDownloadHistoryOK(const QDomElement &body, const QString &status);
    void onDownloadHistoryKO(const QString &description, const QString &status);
    void onClickEsibisci();
    void onClickRipristina();
    void onSelectedFile(QTableWidgetItem *item);

private:
    void followHistory(bool on);
    void stopLoading();
    QString currentCell(int column) const;

    Ui::HistoryFile *ui;
    QString hash;
    QString folderId;
    QString savePath;
    QByteArray requestData;
    QVWConn *conn;
    QMovie loadingMovie;
    Exhibitor exhibitor;
    RestoreDownload *restore;
    ExhibitRequest *exhibit;
};
