#pragma once

#include "storage/Database.h"

#include <QDialog>
#include <QDomElement>
#include <QItemSelection>
#include <QModelIndex>
#include <QMovie>
#include <QString>

class ClassTableModel;
class QNetworkCookieJar;
class QVWConn;

namespace Ui {
class Categorie;
}

// "Classi (profile)": the classes of one profile, brought up to date by a
// synchronisation of its own before they are listed, narrowed by name, each
// with its fields ("Indici"). "Chiudi" accepts; the window's close button and
// a failed synchronisation reject.
class Categorie : public QDialog {
    Q_OBJECT
public:
    // The cookie jar stays the caller's and carries the session.
    Categorie(QNetworkCookieJar *cookieJar, const QString &idBuckets, const QString &bucketName,
              QWidget *parent);
    ~Categorie() override;

public slots:
    void onClickShowMetadata(const QModelIndex &index);
    void onClickShowMetadataCurrent();
    void onSelectionChanged(const QItemSelection &selected, const QItemSelection &deselected);
    void onSyncCategorieOK(const QDomElement &body, const QString &status);
    void onSyncCategorieKO(const QString &description, const QString &status);
    void onFilterList(const QString &text);
    void closeDialog();
    void syncCategorie();
    void retrySyncCategorie();

private:
    void endSync();
    void updateMetadataButton();

    Ui::Categorie *ui;
    QNetworkCookieJar *cookieJar;
    QVWConn *conn;
    Database database;
    QMovie loadingMovie;
    ClassTableModel *model;
    QString idBuckets;
    QString bucketName;
};
