#pragma once

#include "mainwindow/FileListQuery.h"

#include <QDeadlineTimer>
#include <QObject>
#include <QString>

#include <atomic>

// Runs the document page's searches on a thread of its own, with a
// connection of its own to the mirror. A search that a newer one has
// superseded stops within a fraction of a millisecond, and its rows are
// never sent.
//
// Two work side by side: one gives every row, through the word index; the
// other walks the mirror for the first rows, which come at once when a word
// is in many documents, exactly when every row takes longest.
class SearchWorker : public QObject {
    Q_OBJECT
public:
    enum class Kind { AllRows, FirstRows };

    // `latest` is the generation of the newest search asked for, `completed`
    // that of the newest whose every row has been sent.
    SearchWorker(Kind kind, const std::atomic<quint64> &latest, std::atomic<quint64> &completed);
    ~SearchWorker() override;

    // What a FirstRows worker looks for, and for how long at most.
    static constexpr int FirstRowsLimit = 100;
    static constexpr int FirstRowsMs = 100;

    // Whether the statement under way is to stop: superseded, or out of its
    // time. Asked by SQLite as it works.
    bool shouldStop() const;

public slots:
    // `file` is the mirror's, as the GUI thread knows it.
    void run(quint64 generation, const QString &file, const QString &text, const QString &idBuckets,
             const QString &pathFilter);

signals:
    // Rows newest first; `complete` once every row is there.
    void rowsFound(quint64 generation, const FileListQuery::Rows &rows, bool complete);

private:
    bool open(const QString &file);
    // False when superseded.
    bool collect(const FileListQuery::Statement &statement, FileListQuery::Rows *rows);
    bool superseded() const;

    const Kind m_kind;
    const std::atomic<quint64> &m_latest;
    std::atomic<quint64> &m_completed;
    const QString m_connection;
    quint64 m_running = 0;
    QDeadlineTimer m_deadline{QDeadlineTimer::Forever};
};
