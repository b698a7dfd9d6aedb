// Runs the local preservation service on its own, for the demo and for trying
// the client by hand.
#include "DemoSeed.h"
#include "LocalService.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QStandardPaths>

#include <cstdio>

namespace {
int failWith(const QString &message) {
    std::fprintf(stderr, "quillora-localservice: %s\n", qPrintable(message));
    return 1;
}
} // namespace

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("quillora-localservice"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Local stand-in for the preservation service."));
    parser.addHelpOption();
    const QCommandLineOption portOption(QStringLiteral("port"),
                                        QStringLiteral("Port to listen on (0 = any free port)."),
                                        QStringLiteral("N"), QStringLiteral("0"));
    const QCommandLineOption bindOption(QStringLiteral("bind"), QStringLiteral("Address to bind."),
                                        QStringLiteral("ADDR"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption dataOption(
        QStringLiteral("data"), QStringLiteral("Data directory (database and stored files)."),
        QStringLiteral("DIR"));
    const QCommandLineOption certOption(QStringLiteral("tls-cert"),
                                        QStringLiteral("PEM certificate (chain) for HTTPS."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption keyOption(QStringLiteral("tls-key"),
                                       QStringLiteral("PEM private key for HTTPS."),
                                       QStringLiteral("FILE"));
    const QCommandLineOption demoOption(
        QStringLiteral("demo"),
        QStringLiteral(
            "Seed the demo account into a new data directory and print its credentials."));
    const QCommandLineOption minVersionOption(
        QStringLiteral("min-version"), QStringLiteral("Oldest client version accepted at login."),
        QStringLiteral("X.Y.Z"));
    const QCommandLineOption lifetimeOption(
        QStringLiteral("session-lifetime"),
        QStringLiteral("Seconds of inactivity after which a session lapses."),
        QStringLiteral("SECONDS"), QStringLiteral("1800"));
    const QCommandLineOption generateOption(
        QStringLiteral("generate"),
        QStringLiteral("Create a large account before serving (repeatable)."),
        QStringLiteral("USER:PASSWORD:DOCS:VALUES_PER_DOC:CLASSES:FIELDS_PER_CLASS"));
    const QCommandLineOption generateOnlyOption(
        QStringLiteral("generate-only"),
        QStringLiteral("Exit after --generate instead of serving."));
    parser.addOptions({portOption, bindOption, dataOption, certOption, keyOption, demoOption,
                       minVersionOption, lifetimeOption, generateOption, generateOnlyOption});
    parser.process(app);

    LocalService::Options options;
    bool ok = false;
    const uint port = parser.value(portOption).toUInt(&ok);
    if (!ok || port > 65535)
        return failWith(QStringLiteral("invalid port %1").arg(parser.value(portOption)));
    options.port = quint16(port);
    if (!options.bindAddress.setAddress(parser.value(bindOption)))
        return failWith(QStringLiteral("invalid address %1").arg(parser.value(bindOption)));
    options.dataDir = parser.isSet(dataOption)
                          ? parser.value(dataOption)
                          : QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    options.tlsCertificateFile = parser.value(certOption);
    options.tlsKeyFile = parser.value(keyOption);
    if (parser.isSet(minVersionOption)) {
        options.minimumClientVersion = QVersionNumber::fromString(parser.value(minVersionOption));
        if (options.minimumClientVersion.isNull())
            return failWith(
                QStringLiteral("invalid version %1").arg(parser.value(minVersionOption)));
    }
    options.sessionLifetimeSeconds = parser.value(lifetimeOption).toInt(&ok);
    if (!ok || options.sessionLifetimeSeconds <= 0)
        return failWith(
            QStringLiteral("invalid session lifetime %1").arg(parser.value(lifetimeOption)));

    LocalService service;
    QString error;
    if (!service.start(options, &error))
        return failWith(error);

    if (parser.isSet(demoOption)) {
        if (service.store().wasCreated() && !DemoSeed::seed(service.store(), &error))
            return failWith(QStringLiteral("demo seed failed: %1").arg(error));
        std::printf("demo user: %s password: %s\n", qPrintable(DemoSeed::userName()),
                    qPrintable(DemoSeed::password()));
        std::printf("other user: %s password: %s\n", qPrintable(DemoSeed::otherUserName()),
                    qPrintable(DemoSeed::otherPassword()));
    }
    for (const QString &text : parser.values(generateOption)) {
        GeneratorPlan plan;
        if (!GeneratorPlan::fromString(text, &plan, &error) ||
            !service.store().generate(plan, &error))
            return failWith(QStringLiteral("--generate %1: %2").arg(text, error));
        std::printf("generated user: %s documents: %d\n", qPrintable(plan.user), plan.documents);
    }
    if (parser.isSet(generateOnlyOption))
        return 0;
    std::printf("listening on %s\n", qPrintable(service.baseUrl().toString()));
    std::fflush(stdout);
    return app.exec();
}
