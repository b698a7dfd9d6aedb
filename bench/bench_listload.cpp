// Full load of the document list on a large mirror: the list statement, the
// list model with every row fetched behind its sorting proxy and a table
// view, as the document page loads it. Beside it, sqlite3 running the same
// statement on the same file and writing every row (to /dev/null).
#include "DocListBench.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/ListFileDelegate.h"

#include <QProcess>
#include <QSortFilterProxyModel>
#include <QSqlError>
#include <QTableView>

#include <cstdio>
#include <utility>

using DocListBench::die;
using DocListBench::median;

int main(int argc, char *argv[]) {
    const DocListBench::Session bench(argc, argv);

    QTableView view;
    view.resize(1024, 600);
    DocListBench::useListDelegates(view);
    view.show();
    const FileListQuery::Statement statement =
        FileListQuery::fullLoad(bench.profile, QStringLiteral("%"));
    QList<double> times;
    for (int i = 0; i < 5; ++i) {
        QElapsedTimer timer;
        timer.start();
        Database database;
        database.open();
        auto *list = new ListFileDelegate;
        QSqlQuery query(database.db);
        query.setForwardOnly(true);
        if (!FileListQuery::exec(query, statement))
            die(query.lastError().text());
        list->setQuery(std::move(query));
        auto *proxy = new QSortFilterProxyModel(&view);
        proxy->setSourceModel(list);
        view.setModel(proxy);
        DocListBench::hideInternalColumns(view);
        database.close();
        times << timer.nsecsElapsed() / 1e6;
        if (list->rowCount() != DocListMirror::kDocuments || proxy->rowCount() != list->rowCount())
            die(QStringLiteral("not every document was listed"));
        view.setModel(nullptr);
        delete proxy;
        delete list;
    }

    // The same statement with its values written in, for the command line.
    QString sql = statement.sql;
    for (const QVariant &value : statement.values)
        sql.replace(sql.indexOf(QLatin1Char('?')), 1, QLatin1Char('\'') + value.toString() + '\'');
    QList<double> peer;
    for (int i = 0; i < 5; ++i) {
        QProcess sqlite;
        sqlite.setStandardOutputFile(QStringLiteral("/dev/null"));
        QElapsedTimer timer;
        timer.start();
        sqlite.start(QStringLiteral("sqlite3"), {bench.home.databaseFile(), sql});
        if (!sqlite.waitForFinished(600000) || sqlite.exitCode() != 0)
            die(QStringLiteral("sqlite3 failed"));
        peer << timer.nsecsElapsed() / 1e6;
    }
    const double a = median(times), b = median(peer);
    std::printf("listload: %.0f ms (sqlite3: %.0f ms, ratio %.2f)\n", a, b, a / b);
    return 0;
}
