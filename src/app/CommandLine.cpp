#include "app/CommandLine.h"

#include "app/ExternalMessage.h"
#include "app/LocalSocketIpcServer.h"
#include "app/SingleApplication.h"
#include "platform/LocalServerName.h"

#include <QCommandLineParser>
#include <QFileInfo>
#include <QLocalSocket>

#include <cstdio>

namespace {

void print(FILE *stream, const QString &text) {
    std::fputs(qPrintable(text), stream);
    std::fflush(stream);
}

CommandLine::Result ended(int code) {
    CommandLine::Result result;
    result.exit = true;
    result.exitCode = code;
    return result;
}

} // namespace

bool CommandLine::deliver(const QString &message) {
    const QByteArray frame = ExternalMessage::encode(message);
    if (frame.size() > ExternalMessage::MaxFrameBytes)
        return false;
    QLocalSocket socket;
    socket.connectToServer(
        Platform::localServerName(QString::fromLatin1(SingleApplication::ApplicationKey)));
    if (!socket.waitForConnected(2000))
        return false;
    socket.write(frame);
    while (socket.bytesToWrite() > 0) {
        if (!socket.waitForBytesWritten(LocalSocketIpcServer::ReadLimitMs))
            return false;
    }
    // The client closes the connection once it has the whole message.
    return socket.state() == QLocalSocket::UnconnectedState ||
           socket.waitForDisconnected(LocalSocketIpcServer::ReadLimitMs + 1000);
}

CommandLine::Result CommandLine::run(const QStringList &arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Quillora Lite: conservazione dei documenti.\nSenza opzioni avvia il "
                       "client; con una richiesta la passa al client in cui un utente ha "
                       "effettuato l'accesso."));
    // Qt's own help option would also list, untranslated, options the
    // client does not take.
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Mostra questo aiuto."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption conserva(QStringLiteral("conserva"),
                                      QStringLiteral("Apre la conservazione di <file>."),
                                      QStringLiteral("file"));
    const QCommandLineOption esibisci(
        QStringLiteral("esibisci"),
        QStringLiteral("Apre nel browser l'esibizione del documento con il token <token>."),
        QStringLiteral("token"));
    const QCommandLineOption rettifica(
        QStringLiteral("rettifica"),
        QStringLiteral("Apre la rettifica del documento conservato da <file>."),
        QStringLiteral("file"));
    parser.addOptions({conserva, esibisci, rettifica});

    if (!parser.parse(arguments)) {
        print(stderr, parser.errorText() + QStringLiteral("\n\n") + parser.helpText());
        return ended(2);
    }
    if (parser.isSet(help)) {
        print(stdout, parser.helpText());
        return ended(0);
    }
    if (parser.isSet(version)) {
        print(stdout, QStringLiteral("Quillora Lite %1\n").arg(QStringLiteral(QUILLORA_VERSION)));
        return ended(0);
    }
    QStringList asked;
    for (const QCommandLineOption &option : {conserva, esibisci, rettifica}) {
        if (parser.isSet(option))
            asked << option.names().first();
    }
    if (!parser.positionalArguments().isEmpty() || asked.size() > 1 ||
        (asked.size() == 1 && parser.values(asked.first()).size() > 1)) {
        print(stderr, QStringLiteral("Indicare al più una richiesta, una volta sola: --conserva "
                                     "FILE, --esibisci TOKEN o --rettifica FILE.\n"));
        return ended(2);
    }
    if (asked.isEmpty())
        return {};

    const QString command = asked.first();
    QString parameter = parser.value(command);
    // The client runs elsewhere: it needs the whole path.
    if (command != esibisci.names().first())
        parameter = QFileInfo(parameter).absoluteFilePath();
    const QString message = ExternalMessage::request(command, parameter);
    if (deliver(message))
        return ended(0);

    print(stderr, QStringLiteral("Quillora Lite non è in esecuzione o nessun utente ha effettuato "
                                 "l'accesso: la richiesta non è stata consegnata.\n"));
    if (command != conserva.names().first())
        return ended(1);
    Result result;
    result.startupRequest = message;
    return result;
}
