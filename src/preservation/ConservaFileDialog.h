#pragma once

#include "storage/Database.h"

#include <QDateTime>
#include <QDialog>
#include <QDomElement>
#include <QItemSelection>
#include <QList>
#include <QMap>
#include <QMovie>
#include <QPointer>
#include <QString>
#include <QStringList>

class DialogUploadFile;
class QLabel;
class QNetworkCookieJar;
class QSqlQueryModel;
class QVWConn;
class QWidget;

namespace Ui {
class ConservaFileDialog;
}

// The wizard that takes one local file into the preservation service, as a
// new document or as the replacement ("rettifica") of a preserved one: class,
// fingerprint and upload, the class's fields, the outcome.
//
// Construction, class lists, navigation and closing live in
// ConservaFileDialog.cpp; the field rows and the validation display in
// ConservaFields.cpp; the fingerprint, the local rows and the two requests in
// ConservaRequests.cpp; the outcome pages in ConservaOutcome.cpp.
class ConservaFileDialog : public QDialog {
    Q_OBJECT
public:
    enum Page { ClassPage, UploadPage, FieldsPage, SuccessPage, FailurePage };

    ConservaFileDialog(const QString &filePath, QNetworkCookieJar *cookieJar,
                       const QString &idBuckets, const QString &bucketName,
                       const QString &previousHash, bool replaceMode, QWidget *parent);
    ~ConservaFileDialog() override;

    bool eventFilter(QObject *object, QEvent *event) override;
    void reject() override;

    // The fingerprint of a file: SHA-1 of its content, 40 lower-case hex
    // digits, reporting progress to the upload window; empty when the file
    // cannot be read or the user cancelled.
    QString fileFingerprint(const QString &path);
    QString fileColumn(const QString &column, const QString &hash);
    QString folderColumn(const QString &column, const QString &hash);

signals:
    void sostituizioneCompleted();
    void showDetails(QString filePath);
    void closewindow();

public slots:
    void onClickStartUpload();
    void onClickConserva();
    void onClickVisionaFile();
    void onClickOpenCategories();
    void onClickIndietroToInsertMetadata();
    void onClickShowDetails();
    void onClickCloseWindow();
    void onStartUpload();
    void onRetryUpload();
    void onCommandFailure(const QString &description, const QString &status);
    void onUploadFileOK(const QDomElement &body, const QString &status);
    void onConservaFileOK(const QDomElement &body, const QString &status);
    void onSyncCategorieOK();
    void onCancelUpload();
    void onSelectedGroup(const QItemSelection &selected, const QItemSelection &deselected);
    void onClickShowDetailError();
    void onFilterList(const QString &text);
    void conserva();

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    struct FileState {
        qint64 size = -1;
        QDateTime modified;
        bool operator==(const FileState &other) const {
            return size == other.size && modified == other.modified;
        }
    };
    static FileState stateOf(const QString &path);

    void showClasses(QSqlQueryModel *model);
    void requeryClasses(const QString &group, const QString &text);
    QString selectedGroup() const;
    void listenToUpload(bool on);
    void listenToValues(bool on);
    bool fingerprintUnchanged();
    void failFingerprint(const QString &text);
    QByteArray uploadDocument(const QString &lastModified) const;
    QByteArray valuesDocument(const QMap<QString, QString> &values) const;
    void addFieldRow(const QDomElement &field, int row);
    void showValidation(const QString &description);
    void showFailure(const QString &title, const QString &description);

    Ui::ConservaFileDialog *ui;
    QString filePath;
    QNetworkCookieJar *cookieJar;
    QVWConn *conn;
    QString idBuckets;
    QString bucketName;
    QString previousHash;
    bool replaceMode;
    int idFolder = 0;
    QString hash;
    bool skipCloseQuestion = false;
    QString errorDetail;
    QStringList fieldTooltips;
    QMap<QString, QString> validationErrors;
    QMap<QString, QLabel *> fieldLabels;
    QList<QWidget *> fieldEditors;
    QPointer<DialogUploadFile> uploadDialog;
    QByteArray requestBody;
    QSqlQueryModel *classModel;
    QSqlQueryModel *groupModel;
    QMovie loadingMovie;
    Database database;
    // The file as it was when `hash` was computed: a repeat of the upload
    // fingerprints it again only when it has changed since.
    FileState hashedState;
    bool fingerprinting = false;
    bool cancelRequested = false;
};
