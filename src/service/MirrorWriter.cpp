#include "MirrorWriter.h"

#include "storage/Database.h"
#include "storage/SearchIndex.h"

#include <QAtomicInt>
#include <QDebug>
#include <QSqlError>
#include <QSqlQuery>
#include <QThread>

#include <sqlite3.h>

namespace {

QAtomicInt connectionSerial;

bool execute(QSqlDatabase db, const char *sql) {
    QSqlQuery q(db);
    if (q.exec(QLatin1String(sql)))
        return true;
    qDebug() << "Sync failed:" << q.lastError().text();
    return false;
}

} // namespace

MirrorWriter::MirrorWriter(const QString &user, std::function<void()> notify)
    : m_user(user)
    , m_notify(std::move(notify)) {
    // The file and its schema come from the shared connection, as for any use.
    Database shared;
    const bool opened = shared.open();
    shared.close();
    if (!opened) {
        m_failed = m_settled = m_decided = true;
        return;
    }
    m_thread.reset(QThread::create([this] { run(); }));
    m_thread->start();
}

MirrorWriter::~MirrorWriter() {
    if (!m_thread)
        return;
    {
        QMutexLocker lock(&m_mutex);
        // Rows being undone: a long statement (the index catching up) ends
        // now. A log copy after a commit is left to finish.
        if (m_verdict == Verdict::None) {
            m_verdict = Verdict::Undo;
            if (m_raw)
                sqlite3_interrupt(m_raw);
        }
        m_changed.wakeAll();
    }
    m_thread->wait();
}

void MirrorWriter::write(Batch &&rows) {
    if (rows.empty())
        return;
    QMutexLocker lock(&m_mutex);
    if (m_failed || m_ended)
        return;
    m_backlog += qsizetype(rows.size());
    m_queue.push_back(std::move(rows));
    m_changed.wakeAll();
}

qsizetype MirrorWriter::backlog() const {
    QMutexLocker lock(&m_mutex);
    return m_backlog;
}

void MirrorWriter::waitForBacklog(qsizetype rows) {
    QMutexLocker lock(&m_mutex);
    while (m_backlog > rows && !m_failed && m_verdict == Verdict::None)
        m_changed.wait(&m_mutex);
}

void MirrorWriter::end() {
    QMutexLocker lock(&m_mutex);
    m_ended = true;
    m_changed.wakeAll();
}

bool MirrorWriter::isSettled() const {
    QMutexLocker lock(&m_mutex);
    return m_settled;
}

bool MirrorWriter::isFinished() const {
    return !m_thread || m_thread->isFinished();
}

bool MirrorWriter::commit() {
    QMutexLocker lock(&m_mutex);
    if (!m_ended) {
        m_verdict = Verdict::Undo;
        m_changed.wakeAll();
        return false;
    }
    while (!m_settled)
        m_changed.wait(&m_mutex);
    if (m_verdict == Verdict::None)
        m_verdict = m_failed ? Verdict::Undo : Verdict::Commit;
    m_changed.wakeAll();
    while (!m_decided)
        m_changed.wait(&m_mutex);
    return m_committed;
}

void MirrorWriter::run() {
    const QString name =
        QStringLiteral("quilloraSync%1").arg(connectionSerial.fetchAndAddRelaxed(1));
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name);
        db.setDatabaseName(Database::filePath());
        bool ok = start(db);
        {
            QMutexLocker lock(&m_mutex);
            m_raw = db.isOpen() ? Database::sqliteHandle(db) : nullptr;
        }
        {
            MirrorRows rows(db);
            ok = ok && rows.begin();
            if (!ok) {
                QMutexLocker lock(&m_mutex);
                m_failed = true;
            }
            drain(ok ? &rows : nullptr);
        }
        Verdict verdict;
        {
            QMutexLocker lock(&m_mutex);
            verdict = m_verdict;
        }
        bool committed = false;
        if (db.isOpen()) {
            committed = verdict == Verdict::Commit && db.commit();
            if (verdict == Verdict::Commit && !committed)
                qDebug() << "Sync failed:" << db.lastError().text();
            if (!committed)
                db.rollback();
            // The page cache goes before the window hands freed memory back.
            execute(db, "PRAGMA shrink_memory");
        }
        {
            QMutexLocker lock(&m_mutex);
            m_committed = committed;
            m_decided = true;
            m_changed.wakeAll();
        }
        // The rows are the mirror's now; copying the log into the file is
        // left to this thread, without holding up readers or writers.
        if (committed)
            execute(db, "PRAGMA wal_checkpoint(PASSIVE)");
        {
            QMutexLocker lock(&m_mutex);
            m_raw = nullptr;
        }
        db.close();
    }
    QSqlDatabase::removeDatabase(name);
}

bool MirrorWriter::start(QSqlDatabase db) {
    if (!db.open())
        return false;
    // The unique keys of a large account's values do not fit SQLite's default
    // page cache of 2 MB; the log of a large write is not kept at its size.
    execute(db, "PRAGMA cache_size = -65536");
    execute(db, "PRAGMA journal_size_limit = 8388608");
    execute(db, "PRAGMA wal_autocheckpoint = 0");
    // A power cut may cost the last synchronisation, never the file's
    // soundness; the next sign-in fetches what is missing again.
    execute(db, "PRAGMA synchronous = NORMAL");
    SearchIndex::ensure(db);
    // The write lock from the start: the look at other users' rows below must
    // not be outdated by another writer before the first delete.
    if (!execute(db, "BEGIN IMMEDIATE"))
        return false;
    if (m_user.isEmpty())
        return true;
    QSqlQuery q(db);
    q.prepare(
        QStringLiteral("SELECT 1 FROM files WHERE username != '' AND username != ? LIMIT 1"));
    q.addBindValue(m_user);
    if (!q.exec())
        return false;
    const bool other = q.next();
    q.finish();
    return !other || (execute(db, "DELETE FROM files") && execute(db, "DELETE FROM metadati_values"));
}

// Writes what comes until the rows are ended and a verdict is given, or
// until the writer is told to undo. After a failure, rows are only counted off.
void MirrorWriter::drain(MirrorRows *rows) {
    QMutexLocker lock(&m_mutex);
    for (;;) {
        if (m_verdict != Verdict::None)
            return;
        if (!m_queue.empty()) {
            Batch batch = std::move(m_queue.front());
            m_queue.pop_front();
            const bool write = !m_failed && rows;
            lock.unlock();
            bool ok = true;
            for (const MirrorRows::Row &row : batch) {
                if (write && ok)
                    ok = rows->write(row);
            }
            lock.relock();
            m_backlog -= qsizetype(batch.size());
            m_failed = m_failed || !ok;
            m_changed.wakeAll();
        } else if (m_ended && !m_settled) {
            const bool write = !m_failed && rows;
            lock.unlock();
            const bool ok = !write || rows->end();
            lock.relock();
            m_failed = m_failed || !ok;
            m_settled = true;
            m_changed.wakeAll();
        } else {
            m_changed.wait(&m_mutex);
            continue;
        }
        lock.unlock();
        if (m_notify)
            m_notify();
        lock.relock();
    }
}
