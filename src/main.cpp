#include "app/CommandLine.h"
#include "app/QtTranslation.h"
#include "app/SingleApplication.h"
#include "mainwindow/CoreMain.h"

#include <QApplication>
#include <QLocale>

#include <cstdio>

int main(int argc, char *argv[]) {
    QLocale::setDefault(QLocale(QLocale::Italian, QLocale::AnyCountry));
    QString startupRequest;
    {
        // The options need no display: a request is handed over from a
        // terminal as well as from a file manager.
        QCoreApplication commandLine(argc, argv);
        QtTranslation::installItalian(&commandLine);
        const CommandLine::Result result = CommandLine::run(commandLine.arguments());
        if (result.exit)
            return result.exitCode;
        startupRequest = result.startupRequest;
    }

    QApplication app(argc, argv);
    // Matches the launcher and its icon on Wayland.
    QGuiApplication::setDesktopFileName(QStringLiteral("example.quillora.QuilloraLite"));
    QtTranslation::installItalian(&app);
    QCoreApplication::addLibraryPath(QStringLiteral("."));
    // The program lives on in the notification area when its windows close.
    app.setQuitOnLastWindowClosed(false);

    auto *single =
        new SingleApplication(QString::fromLatin1(SingleApplication::ApplicationKey), &app);
    if (single->isRunning()) {
        // The running instance shows itself; this one has nothing more to do.
        single->sendMessage(QStringLiteral(""), 500);
        if (startupRequest.isEmpty())
            return 0;
        std::fputs("Quillora Lite è già aperto: effettua l'accesso e ripeti la richiesta.\n",
                   stderr);
        return 1;
    }

    auto *window = new CoreMain;
    QObject::connect(single, &SingleApplication::messageReceived, window, &CoreMain::showApp);
    if (!startupRequest.isEmpty()) {
        std::fputs("Avvio di Quillora Lite: dopo l'accesso si aprirà la conservazione del file.\n",
                   stderr);
        window->setStartupRequest(startupRequest);
    }
    const int exitCode = app.exec();
    delete window;
    delete single;
    return exitCode;
}
