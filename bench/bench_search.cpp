// Search per keystroke on a large mirror: statement, list model refresh with
// every row fetched, the sort of the list and the first row's details, as the
// document page does them. Beside it, on the same data in the same run, the
// search-view statement with one self-join per word (the statement the index
// replaces, whose rows it must give).
#include "DocListBench.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/MetaDataDetailDelegate.h"

#include <QSortFilterProxyModel>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

#include <cstdio>
#include <utility>

namespace {

using DocListBench::die;
using DocListBench::median;

struct Keystroke {
    double ms = 0;
    QStringList rows;
};

// One keystroke of the document page.
Keystroke search(const FileListQuery::Statement &statement, const QString &text, bool keepRows) {
    QElapsedTimer timer;
    timer.start();
    Database database;
    database.open();
    ListFileDelegate list;
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&list);
    MetaDataDetailDelegate details;
    QSqlQuery query(database.db);
    if (!FileListQuery::exec(query, statement))
        die(query.lastError().text());
    list.setQuery(std::move(query));
    list.highlightText = text;
    while (list.canFetchMore())
        list.fetchMore();
    proxy.setFilterKeyColumn(-1);
    proxy.sort(5, Qt::DescendingOrder);
    if (proxy.rowCount() > 0) {
        QSqlQuery detail(database.db);
        FileListQuery::exec(
            detail, FileListQuery::details(proxy.index(0, 0).data(Qt::DisplayRole).toString()));
        details.setQuery(std::move(detail));
        details.highlightText = text;
        while (details.canFetchMore())
            details.fetchMore();
    }
    database.close();
    Keystroke result;
    result.ms = timer.nsecsElapsed() / 1e6;
    if (keepRows) {
        for (int r = 0; r < list.rowCount(); ++r) {
            const QSqlRecord record = list.record(r);
            QStringList columns;
            for (int c = 0; c < record.count(); ++c)
                columns << record.value(c).toString();
            result.rows << columns.join(QLatin1Char('|'));
        }
        result.rows.sort();
    }
    return result;
}

} // namespace

int main(int argc, char *argv[]) {
    const DocListBench::Session bench(argc, argv);

    // Typed searches of one to three words of three letters or more: document
    // numbers, names, field texts, dates, mixed capitals.
    const QStringList selective = {QStringLiteral("12345"),
                                   QStringLiteral("documento_0999"),
                                   QStringLiteral("Valore 4242"),
                                   QStringLiteral("2015 documento_01"),
                                   QStringLiteral("03/2014 valore 777"),
                                   QStringLiteral("DOCUMENTO_05 1234"),
                                   QStringLiteral("generata 31337"),
                                   QStringLiteral("fattura"),
                                   QStringLiteral("VALORE 98765 del"),
                                   QStringLiteral("Indice 123 del")};
    // A word in every document: the whole list comes back.
    const QStringList broad = {QStringLiteral("documento")};

    QList<double> fast, fastBroad, plain, plainBroad;
    for (const QString &text : selective + broad) {
        QList<double> &times = broad.contains(text) ? fastBroad : fast;
        QList<double> &peerTimes = broad.contains(text) ? plainBroad : plain;
        Database database;
        database.open();
        const FileListQuery::Statement indexed =
            FileListQuery::indexedSearch(database.db, text, bench.profile, QStringLiteral("%"));
        database.close();
        if (!indexed.sql.contains(QLatin1String("MATCH")))
            die(QStringLiteral("the index was not used for ") + text);
        const Keystroke first = search(indexed, text, true);
        for (int i = 0; i < 5; ++i)
            times << search(indexed, text, false).ms;
        const Keystroke peer =
            search(FileListQuery::search(text, bench.profile, QStringLiteral("%")), text, true);
        peerTimes << peer.ms;
        if (first.rows != peer.rows)
            die(QStringLiteral("different rows for ") + text);
        std::fprintf(stderr, "  %-22s %6lld rows  %8.1f ms  (view statement %8.1f ms)\n",
                     qPrintable(text), qint64(first.rows.size()),
                     median(times.mid(times.size() - 5)), peer.ms);
    }
    const double a = median(fast), b = median(plain);
    std::printf("search: %.1f ms (search-view statement: %.1f ms, ratio %.3f)\n", a, b, a / b);
    const double c = median(fastBroad), d = median(plainBroad);
    std::printf("search-all-rows: %.1f ms (search-view statement: %.1f ms, ratio %.3f)\n", c, d,
                c / d);
    return 0;
}
