#pragma once

#include "service/MirrorRows.h"

#include <QMutex>
#include <QString>
#include <QWaitCondition>

#include <deque>
#include <functional>
#include <memory>
#include <vector>

class QThread;
struct sqlite3;

// Writes the rows of a synchronisation on a thread and a connection of its
// own, in one transaction that is committed or undone only when asked, so
// that the reading of a reply and the writing of its rows overlap and the
// window never waits for the database. For a login (`user` set), the
// documents and values of any other user go first, in the same transaction.
class MirrorWriter {
public:
    using Batch = std::vector<MirrorRows::Row>;

    // `notify` is called on the writer's thread after each batch is written
    // and once the rows are ended.
    MirrorWriter(const QString &user, std::function<void()> notify);
    ~MirrorWriter(); // what was not committed is undone
    MirrorWriter(const MirrorWriter &) = delete;
    MirrorWriter &operator=(const MirrorWriter &) = delete;

    void write(Batch &&rows);
    // Rows queued and not yet written.
    qsizetype backlog() const;
    // Returns once the backlog is at most `rows`, or nothing more will be written.
    void waitForBacklog(qsizetype rows);
    // No more rows: the search index is brought in step.
    void end();
    // Every row is written and ended, or the writer has failed.
    bool isSettled() const;
    // The thread is done, log copy included.
    bool isFinished() const;
    // Waits until settled, then commits; false, with everything undone, when
    // the database did not take the rows. The log is then copied into the
    // mirror's file on the writer's thread, which the destructor waits for.
    bool commit();

private:
    void run();
    bool start(QSqlDatabase db);
    void drain(MirrorRows *rows);

    const QString m_user;
    const std::function<void()> m_notify;
    std::unique_ptr<QThread> m_thread;
    mutable QMutex m_mutex;
    QWaitCondition m_changed;
    std::deque<Batch> m_queue;
    qsizetype m_backlog = 0;
    bool m_ended = false;
    bool m_settled = false;
    bool m_failed = false;
    enum class Verdict { None, Commit, Undo } m_verdict = Verdict::None;
    bool m_decided = false; // committed or undone
    bool m_committed = false;
    sqlite3 *m_raw = nullptr; // the connection, while it is open
};
