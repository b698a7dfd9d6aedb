#pragma once

#include <QString>
#include <QStringList>

// The program's options: --conserva FILE, --esibisci TOKEN and --rettifica
// FILE hand a request to the client a user has signed in to, through its
// local server, and end; --help and --version say what they say.
namespace CommandLine {

struct Result {
    // The program ends with exitCode instead of starting the client.
    bool exit = false;
    int exitCode = 0;
    // A request nobody could take that the started client carries out
    // after sign-in.
    QString startupRequest;
};

// Needs a QCoreApplication; prints on standard output and standard error.
Result run(const QStringList &arguments);

// Hands `message` to the signed-in client; true once it has read it.
bool deliver(const QString &message);

} // namespace CommandLine
