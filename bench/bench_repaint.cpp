// Repaint of a visible page of the document list (100,000 rows) whose local
// copies are on disk and unchanged: the local-copy icon must not read them
// again. Beside it, the same repaints with every visible file touched before
// each one, so that each repaint reads every visible file whole, as an
// uncached icon would.
#include "DocListBench.h"
#include "mainwindow/FileListQuery.h"
#include "mainwindow/ListFileDelegate.h"
#include "mainwindow/LocalFingerprintCache.h"

#include <QImage>
#include <QRegularExpression>
#include <QSortFilterProxyModel>
#include <QSqlError>
#include <QTableView>
#include <QTemporaryDir>

#include <cstdio>
#include <utility>

using DocListBench::die;
using DocListBench::median;

int main(int argc, char *argv[]) {
    const DocListBench::Session bench(argc, argv);

    Database database;
    database.open();
    ListFileDelegate list;
    QSqlQuery query(database.db);
    if (!FileListQuery::exec(query, FileListQuery::fullLoad(bench.profile, QStringLiteral("%"))))
        die(query.lastError().text());
    list.setQuery(std::move(query));
    database.close();
    QSortFilterProxyModel proxy;
    proxy.setSourceModel(&list);
    QTableView view;
    view.resize(1024, 700);
    view.setModel(&proxy);
    DocListBench::useListDelegates(view);
    DocListBench::hideInternalColumns(view);
    view.show();

    // The generated paths are Windows paths without a drive this system
    // knows: they resolve under the working directory, where the local copies
    // of the visible rows are written with their preserved content.
    QTemporaryDir root;
    QDir::setCurrent(root.path());
    const int visible = view.rowAt(view.viewport()->height() - 1) + 1;
    QStringList files;
    const QRegularExpression number(QStringLiteral("documento_(\\d+)\\.txt$"));
    for (int row = 0; row < visible; ++row) {
        const QString folder = proxy.index(row, 3).data(Qt::UserRole).toString();
        const QString path =
            folder + QLatin1Char('/') + proxy.index(row, 1).data(Qt::UserRole).toString();
        const QRegularExpressionMatch m = number.match(path);
        if (!m.hasMatch())
            die(QStringLiteral("unexpected path ") + path);
        QDir().mkpath(folder);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write ") + path);
        file.write(QStringLiteral("Documento generato n. %1 di bench\n")
                       .arg(m.captured(1).toInt())
                       .toUtf8());
        files << path;
    }
    LocalFingerprintCache &cache = LocalFingerprintCache::instance();
    // Drawn into an image: the whole page, synchronously, as a repaint of
    // the window draws it.
    QImage page(view.size(), QImage::Format_ARGB32_Premultiplied);
    const auto repaint = [&] { view.render(&page); };
    repaint();
    if (!QPixmap(proxy.index(0, 1).data(Qt::DecorationRole).value<QPixmap>())
             .toImage()
             .
             operator==(QPixmap(QStringLiteral(":/images/cloudandpc.png")).toImage()))
        die(QStringLiteral("the local copies are not recognised"));

    auto measure = [&](bool touch, qint64 *reads) {
        QList<double> times;
        const qint64 before = cache.reads();
        for (int i = 0; i < 30; ++i) {
            if (touch) {
                for (const QString &path : files) {
                    QFile file(path);
                    file.open(QIODevice::ReadWrite);
                    file.setFileTime(QDateTime::currentDateTime().addSecs(i + 1),
                                     QFileDevice::FileModificationTime);
                }
            }
            QElapsedTimer timer;
            timer.start();
            repaint();
            times << timer.nsecsElapsed() / 1e6;
        }
        *reads = cache.reads() - before;
        return median(times);
    };
    qint64 reads = 0, peerReads = 0;
    const double a = measure(false, &reads);
    const double b = measure(true, &peerReads);
    std::printf("repaint: %.2f ms (re-reading files: %.2f ms, ratio %.2f)\n", a, b, a / b);
    std::printf("repaint-file-reads: %lld reads in 30 repaints of %d rows (re-reading files: %lld "
                "reads, ratio %.2f)\n",
                reads, visible, peerReads, double(reads) / double(peerReads));
    QDir::setCurrent(QDir::tempPath());
    return reads == 0 ? 0 : 1;
}
