#pragma once

#include "storage/Database.h"

#include <QDialog>
#include <QModelIndex>
#include <QMovie>
#include <QString>

class MetadataSqlTableModel;
class QCloseEvent;
class QNetworkCookieJar;

namespace Ui {
class MetadatiCategories;
}

// "Indici della classe …": the fields of one class as mirrored locally, with
// their type and whether they are visible and required. Read-only.
class MetadatiCategories : public QDialog {
    Q_OBJECT
public:
    // The window makes no request: the cookie jar is accepted for the callers'
    // sake and not used.
    MetadatiCategories(QNetworkCookieJar *cookieJar, QWidget *parent, int idFolder,
                       const QString &className);
    ~MetadatiCategories() override;

public slots:
    void onClickRowMetadata(const QModelIndex &index);
    void onClickClose();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    Ui::MetadatiCategories *ui;
    Database database;
    QMovie loadingMovie;
    int idFolder;
    QString className;
    MetadataSqlTableModel *model;
};
