#include "mainwindow/SearchWorker.h"

#include "storage/Database.h"

#include <QDebug>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>

#include <sqlite3.h>

namespace {

// How many virtual-machine steps SQLite takes between two questions whether
// the search still matters: well under a millisecond.
constexpr int StepsBetweenChecks = 4000;

int abandon(void *worker) {
    return static_cast<const SearchWorker *>(worker)->shouldStop() ? 1 : 0;
}

// Even one step of a statement can walk much of the mirror; SQLite stops it
// when the handler says so.
void watchProgress(const QSqlDatabase &db, SearchWorker *worker) {
    if (sqlite3 *raw = Database::sqliteHandle(db))
        sqlite3_progress_handler(raw, StepsBetweenChecks, abandon, worker);
}

} // namespace

SearchWorker::SearchWorker(Kind kind, const std::atomic<quint64> &latest,
                           std::atomic<quint64> &completed)
    : m_kind(kind)
    , m_latest(latest)
    , m_completed(completed)
    , m_connection(QStringLiteral("search-%1").arg(quintptr(this), 0, 16)) {}

SearchWorker::~SearchWorker() {
    // Runs on the worker's thread, which opened the connection.
    if (QSqlDatabase::contains(m_connection)) {
        QSqlDatabase::database(m_connection, false).close();
        QSqlDatabase::removeDatabase(m_connection);
    }
}

bool SearchWorker::superseded() const {
    return m_latest.load(std::memory_order_relaxed) != m_running;
}

bool SearchWorker::shouldStop() const {
    return superseded() || m_deadline.hasExpired() ||
           (m_kind == Kind::FirstRows && m_completed.load(std::memory_order_relaxed) == m_running);
}

bool SearchWorker::open(const QString &file) {
    QSqlDatabase db = QSqlDatabase::contains(m_connection)
                          ? QSqlDatabase::database(m_connection, false)
                          : QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_connection);
    if (db.isOpen() && db.databaseName() == file)
        return true;
    // The page's own connection made the file, private, and its schema: this
    // one only reads, and never makes a file of its own.
    db.close();
    db.setDatabaseName(file);
    if (!QFileInfo::exists(file) || !db.open()) {
        qWarning().noquote() << "Ricerca: " + db.lastError().text();
        return false;
    }
    watchProgress(db, this);
    return true;
}

bool SearchWorker::collect(const FileListQuery::Statement &statement, FileListQuery::Rows *rows) {
    QSqlQuery query(QSqlDatabase::database(m_connection, false));
    query.setForwardOnly(true);
    // The progress handler ends the statement when it is to stop.
    if (FileListQuery::exec(query, statement))
        *rows = FileListQuery::read(query);
    if (superseded())
        return false;
    if (query.lastError().isValid() && !shouldStop())
        qWarning().noquote() << "Ricerca: " + query.lastError().text();
    return true;
}

void SearchWorker::run(quint64 generation, const QString &file, const QString &text,
                       const QString &idBuckets, const QString &pathFilter) {
    m_running = generation;
    if (superseded())
        return;
    FileListQuery::Rows rows;
    if (m_kind == Kind::AllRows) {
        if (open(file)) {
            QSqlDatabase db = QSqlDatabase::database(m_connection, false);
            const FileListQuery::Statement all = FileListQuery::indexedSearch(
                db, text, idBuckets, pathFilter, FileListQuery::Order::AsFound);
            if (!collect(all, &rows))
                return;
        }
        FileListQuery::sortNewestFirst(rows);
        m_completed.store(generation);
        emit rowsFound(generation, rows, true);
        return;
    }
    // A text of spaces lists nothing; there are no first rows of it.
    if ((!text.isEmpty() && FileListQuery::words(text).isEmpty()) || !open(file))
        return;
    m_deadline = QDeadlineTimer(FirstRowsMs);
    const bool current =
        collect(FileListQuery::firstMatches(text, idBuckets, pathFilter, FirstRowsLimit), &rows);
    m_deadline = QDeadlineTimer(QDeadlineTimer::Forever);
    if (current && !rows.isEmpty() && m_completed.load() != generation) {
        FileListQuery::sortNewestFirst(rows);
        emit rowsFound(generation, rows, false);
    }
}
