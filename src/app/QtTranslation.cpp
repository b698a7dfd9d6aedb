#include "app/QtTranslation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

void QtTranslation::installItalian(QCoreApplication *app) {
    const QString directory = QLibraryInfo::path(QLibraryInfo::TranslationsPath);
    // qt_it only names the per-module catalogues and fails as a whole when one
    // of them is missing; qtbase_it alone still covers the widgets.
    for (const char *name : {"qt_it", "qtbase_it"}) {
        auto *translator = new QTranslator(app);
        if (translator->load(QString::fromLatin1(name), directory)) {
            QCoreApplication::installTranslator(translator);
            return;
        }
        delete translator;
    }
}
