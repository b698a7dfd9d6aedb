// Search per keystroke on a large mirror, as the document page runs it: the
// search on its worker thread, the rows put in the list model behind its
// proxy, the first row selected with its details, the table painted. What
// the GUI thread spends on a keystroke and on each delivery is its blocked
// time; first rows and complete results are timed from the keystroke.
// Beside it, on the same data in the same run, the search-view statement
// with one self-join per word (the statement the index replaces), whose rows
// every complete result must equal.
#include "DocListBench.h"
#include "mainwindow/DocumentSearch.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/MetaDataDetailDelegate.h"

#include <QEventLoop>
#include <QItemSelectionModel>
#include <QSortFilterProxyModel>
#include <QSqlError>
#include <QSqlQuery>
#include <QTableView>
#include <QTimer>

#include <cstdio>
#include <utility>

namespace {

using DocListBench::die;
using DocListBench::median;

QStringList joined(const FileListQuery::Rows &rows) {
    QStringList out;
    for (const QVariantList &row : rows) {
        QStringList columns;
        for (const QVariant &value : row)
            columns << value.toString();
        out << columns.join(QLatin1Char('|'));
    }
    out.sort();
    return out;
}

// The page: list, proxy, table and details, fed by the search.
struct Page {
    Page() {
        proxy.setSourceModel(&list);
        view.resize(1024, 700);
        view.setModel(&proxy);
        DocListBench::useListDelegates(view);
        DocListBench::hideInternalColumns(view);
        view.show();
        QObject::connect(
            &search, &DocumentSearch::rowsFound, &search,
            [this](const QString &text, const FileListQuery::Rows &rows, bool complete) {
                QElapsedTimer timer;
                timer.start();
                show(text, rows);
                blocked << timer.nsecsElapsed() / 1e6;
                const double since = sinceKeystroke.nsecsElapsed() / 1e6;
                if (firstRows < 0)
                    firstRows = since;
                if (complete) {
                    completeMs = since;
                    last = rows;
                    done.quit();
                }
            });
    }
    void show(const QString &text, const FileListQuery::Rows &rows) {
        proxy.sort(-1);
        list.highlightText = text;
        list.setRows(rows);
        if (proxy.rowCount() > 0) {
            view.selectRow(0);
            Database database;
            database.open();
            QSqlQuery detail(database.db);
            FileListQuery::exec(
                detail, FileListQuery::details(proxy.index(0, 0).data(Qt::EditRole).toString()));
            details.setQuery(std::move(detail));
            details.highlightText = text;
            while (details.canFetchMore())
                details.fetchMore();
            database.close();
        }
        view.viewport()->repaint();
    }
    // Types `texts` one right after the other (as fast as a keyboard repeats)
    // and waits for the last one's complete result.
    void type(const QStringList &texts, const QString &profile) {
        blocked.clear();
        firstRows = completeMs = -1;
        for (const QString &text : texts) {
            firstRows = -1;
            sinceKeystroke.start();
            QElapsedTimer timer;
            timer.start();
            search.start(text, profile, QStringLiteral("%"));
            blocked << timer.nsecsElapsed() / 1e6;
            if (&text != &texts.last()) {
                QEventLoop pause;
                QTimer::singleShot(30, &pause, &QEventLoop::quit);
                pause.exec();
            }
        }
        done.exec();
    }

    ListFileDelegate list;
    QSortFilterProxyModel proxy;
    MetaDataDetailDelegate details;
    QTableView view;
    DocumentSearch search;
    QEventLoop done;
    QElapsedTimer sinceKeystroke;
    QList<double> blocked;
    double firstRows = -1, completeMs = -1;
    FileListQuery::Rows last;
};

// The search-view statement, every row read.
QStringList peerRows(const QString &text, const QString &profile, double *ms) {
    QElapsedTimer timer;
    timer.start();
    Database database;
    database.open();
    QSqlQuery query(database.db);
    if (!FileListQuery::exec(query, FileListQuery::search(text, profile, QStringLiteral("%"))))
        die(query.lastError().text());
    const FileListQuery::Rows rows = FileListQuery::read(query);
    database.close();
    *ms = timer.nsecsElapsed() / 1e6;
    return joined(rows);
}

double worst(const QList<double> &values) {
    return *std::max_element(values.begin(), values.end());
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

    Page page;
    QList<double> complete, completeBroad, plain, plainBroad, blocked, firstRows;
    for (const QString &text : selective + broad) {
        const bool all = broad.contains(text);
        double peerMs = 0;
        const QStringList expected = peerRows(text, bench.profile, &peerMs);
        (all ? plainBroad : plain) << peerMs;
        QList<double> times, first;
        for (int i = 0; i < 5; ++i) {
            page.type({text}, bench.profile);
            if (i == 0 && joined(page.last) != expected)
                die(QStringLiteral("different rows for ") + text);
            times << page.completeMs;
            blocked << page.blocked;
            first << page.firstRows;
        }
        (all ? completeBroad : complete) << times;
        firstRows << first;
        std::fprintf(stderr,
                     "  %-22s %6lld rows  first %6.1f ms  all %8.1f ms  (view statement %8.1f ms)\n",
                     qPrintable(text), qint64(expected.size()), median(first), median(times),
                     peerMs);
    }
    // A word typed letter by letter: each keystroke supersedes the last.
    QStringList letters;
    for (int i = 1; i <= broad.first().size(); ++i)
        letters << broad.first().left(i);
    for (int i = 0; i < 3; ++i) {
        page.type(letters, bench.profile);
        blocked << page.blocked;
        if (page.list.rowCount() != DocListMirror::kDocuments)
            die(QStringLiteral("the typed word did not list every document"));
    }

    const double a = median(complete), b = median(plain);
    std::printf("search: %.1f ms (search-view statement: %.1f ms, ratio %.3f)\n", a, b, a / b);
    const double c = median(completeBroad), d = median(plainBroad);
    std::printf("search-all-rows: %.1f ms (search-view statement: %.1f ms, ratio %.3f)\n", c, d,
                c / d);
    std::printf("search-gui-blocked: worst %.1f ms, median %.2f ms (limit 50 ms)\n", worst(blocked),
                median(blocked));
    std::printf("search-first-rows: worst %.1f ms, median %.1f ms (limit 150 ms)\n",
                worst(firstRows), median(firstRows));
    return 0;
}
