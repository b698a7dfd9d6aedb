#pragma once

#include "mainwindow/FileListQuery.h"

#include <QObject>
#include <QString>
#include <QThread>

#include <atomic>

// The document page's search, kept off the GUI thread: each start()
// supersedes every search before it, whose rows never arrive, so what is
// shown is always the result of the latest text.
class DocumentSearch : public QObject {
    Q_OBJECT
public:
    explicit DocumentSearch(QObject *parent = nullptr);
    ~DocumentSearch() override;

    void start(const QString &text, const QString &idBuckets, const QString &pathFilter);
    // Forgets the searches under way, as when the list is loaded anew.
    void cancel();

signals:
    // The first rows found (`complete` false), then all of them; newest first.
    void rowsFound(const QString &text, const FileListQuery::Rows &rows, bool complete);
    // Asks the worker; queued to its thread.
    void runRequested(quint64 generation, const QString &file, const QString &text,
                      const QString &idBuckets, const QString &pathFilter);

private:
    void deliver(quint64 generation, const FileListQuery::Rows &rows, bool complete);

    QThread m_allRows, m_firstRows;
    std::atomic<quint64> m_latest{0};
    std::atomic<quint64> m_completed{0};
    QString m_text;          // of the latest search
    quint64 m_delivered = 0; // the latest search whose every row was shown
};
