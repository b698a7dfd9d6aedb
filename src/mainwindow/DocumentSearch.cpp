#include "mainwindow/DocumentSearch.h"

#include "mainwindow/SearchWorker.h"
#include "storage/Database.h"

DocumentSearch::DocumentSearch(QObject *parent)
    : QObject(parent) {
    qRegisterMetaType<FileListQuery::Rows>();
    for (QThread *thread : {&m_allRows, &m_firstRows}) {
        const auto kind =
            thread == &m_allRows ? SearchWorker::Kind::AllRows : SearchWorker::Kind::FirstRows;
        auto *worker = new SearchWorker(kind, m_latest, m_completed);
        worker->moveToThread(thread);
        // Deleted on its own thread, which owns its connection.
        connect(thread, &QThread::finished, worker, &QObject::deleteLater);
        connect(this, &DocumentSearch::runRequested, worker, &SearchWorker::run);
        connect(worker, &SearchWorker::rowsFound, this, &DocumentSearch::deliver);
        thread->setObjectName(kind == SearchWorker::Kind::AllRows ? QStringLiteral("AllRows")
                                                                  : QStringLiteral("FirstRows"));
        thread->start();
    }
}

DocumentSearch::~DocumentSearch() {
    cancel();
    for (QThread *thread : {&m_allRows, &m_firstRows}) {
        thread->quit();
        thread->wait();
    }
}

void DocumentSearch::start(const QString &text, const QString &idBuckets,
                           const QString &pathFilter) {
    m_text = text;
    const quint64 generation = ++m_latest;
    emit runRequested(generation, Database::filePath(), text, idBuckets, pathFilter);
}

void DocumentSearch::cancel() {
    ++m_latest;
}

void DocumentSearch::deliver(quint64 generation, const FileListQuery::Rows &rows, bool complete) {
    // Rows of a superseded search may have been on their way already, and
    // first rows may come after all of them.
    if (generation != m_latest.load() || (!complete && generation == m_delivered))
        return;
    if (complete)
        m_delivered = generation;
    emit rowsFound(m_text, rows, complete);
}
