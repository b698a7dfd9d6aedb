#include "app/QtTranslation.h"
#include "app/SingleApplication.h"
#include "mainwindow/CoreMain.h"

#include <QApplication>
#include <QLocale>

int main(int argc, char *argv[]) {
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::AnyCountry));
    QApplication app(argc, argv);
    QtTranslation::installItalian(&app);
    QCoreApplication::addLibraryPath(QStringLiteral("."));
    // The program lives on in the notification area when its windows close.
    app.setQuitOnLastWindowClosed(false);

    auto *single =
        new SingleApplication(QString::fromLatin1(SingleApplication::ApplicationKey), &app);
    if (single->isRunning()) {
        // The running instance shows itself; this one has nothing more to do.
        single->sendMessage(QStringLiteral(""), 500);
        return 0;
    }

    auto *window = new CoreMain;
    QObject::connect(single, &SingleApplication::messageReceived, window, &CoreMain::showApp);
    const int exitCode = app.exec();
    delete window;
    delete single;
    return exitCode;
}
