#pragma once

#include "DocListMirror.h"
#include "mainwindow/HTMLItemDelegate.h"
#include "preservation/DateFormatDelegate.h"

#include <QApplication>
#include <QList>
#include <QTableView>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

// What the document-list benchmarks share: how they give up, how they sum up
// their runs, the large mirror they run on and the table the document page
// shows it in.
namespace DocListBench {

// Ends the benchmark, naming the program that gave up.
[[noreturn]] inline void die(const QString &message) {
    std::fprintf(stderr, "%s: %s\n", qPrintable(QCoreApplication::applicationName()),
                 qPrintable(message));
    std::exit(1);
}

inline double median(QList<double> values) {
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

// Puts the large mirror into `home` and gives its profile id.
inline QString installMirror(const TestHome &home) {
    QString profile, error;
    if (!DocListMirror::install(home, &profile, &error))
        die(error);
    return profile;
}

// What a document-list benchmark runs in: an offscreen application and a
// home of its own holding the large mirror.
class Session {
public:
    Session(int &argc, char **argv)
        : app(offscreen(argc), argv)
        , profile(installMirror(home)) {}

    QApplication app;
    TestHome home;
    const QString profile; // the mirror's profile id

private:
    // The platform must be chosen before the application exists.
    static int &offscreen(int &argc) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        return argc;
    }
};

// The delegates the document page draws its list with.
inline void useListDelegates(QTableView &view) {
    view.setItemDelegate(new HTMLItemDelegate(&view));
    view.setItemDelegateForColumn(5, new DateFormatDelegate(&view));
}

// The id, class and hash columns stay hidden on the page; a new model shows
// them again.
inline void hideInternalColumns(QTableView &view) {
    for (int c : {0, 6, 7})
        view.hideColumn(c);
}

} // namespace DocListBench
