// The requests of other programs: preserve a file, exhibit a document,
// replace the document preserved from a file.
#include "mainwindow/CoreMain.h"

#include "app/ExternalMessage.h"
#include "app/MessageBox.h"
#include "platform/WindowFront.h"
#include "service/LoginDialog.h"

#include <QCoreApplication>
#include <QDir>
#include <QSqlQuery>

void CoreMain::setStartupRequest(const QString &message) {
    startupRequest = message;
}

void CoreMain::parseExternalMessage(const QString &message) {
    if (!loggedIn) {
        Platform::bringToFront(loginDialog);
        return;
    }
    const ExternalMessage::Request request = ExternalMessage::parse(message);
    if (request.parameter.isEmpty())
        return;
    if (request.command == QLatin1String("conserva")) {
        conserveExternal(request.parameter);
    } else if (request.command == QLatin1String("esibisci")) {
        exhibitToken = request.parameter;
        esibisciFile();
    } else if (request.command == QLatin1String("rettifica")) {
        replaceExternal(request.parameter);
    }
}

void CoreMain::conserveExternal(const QString &path) {
    // The whole guard: a file being chosen meanwhile would otherwise open a
    // second wizard that takes the first one's place.
    if (!conserveAllowed())
        return;
    // Held before the window is painted, so that a request arriving then
    // meets the guard.
    pendingFilePath = path;
    Platform::bringToFront(this);
    QCoreApplication::processEvents();
    if (loggedIn)
        openConserveDialog(this);
    else
        pendingFilePath.clear();
}

void CoreMain::replaceExternal(const QString &path) {
    Platform::bringToFront(this);
    QCoreApplication::processEvents();
    const QString hash = preservedHashOf(path);
    if (hash.isEmpty()) {
        MessageBox::critical(this, QStringLiteral("Rettifica file"),
                             QStringLiteral("Errore durante la rettifica del file si prega di "
                                            "riprovare"));
        return;
    }
    if (!loggedIn || !conserveAllowed())
        return;
    pendingFilePath = path;
    openConserveDialog(nullptr, hash);
}

QString CoreMain::preservedHashOf(const QString &path) {
    database.open();
    QSqlQuery query(database.db);
    query.prepare(QStringLiteral("SELECT hash FROM files WHERE fullpath = ? AND token IS NOT NULL"));
    // Stored as the wizard was given it: in the system's own separators.
    query.addBindValue(QDir::toNativeSeparators(path));
    const QString hash = query.exec() && query.next() ? query.value(0).toString() : QString();
    database.close();
    return hash;
}
