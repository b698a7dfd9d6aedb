#include "Inactivity.h"

#include <QNetworkReply>

namespace {
int g_timeoutMs = 60000;
const char kCancelled[] = "quilloraCancelled";
} // namespace

int Inactivity::timeoutMs() {
    return g_timeoutMs;
}

void Inactivity::setTimeoutMs(int ms) {
    g_timeoutMs = ms;
}

void Inactivity::markCancelled(QNetworkReply *reply) {
    reply->setProperty(kCancelled, true);
}

QString Inactivity::failureText(const QNetworkReply *reply) {
    // Qt ends a transfer that times out exactly as an abort.
    if (reply->error() == QNetworkReply::OperationCanceledError &&
        !reply->property(kCancelled).toBool())
        return QStringLiteral("Il servizio non risponde da %1 secondi: controllare la "
                              "connessione e riprovare")
            .arg((g_timeoutMs + 999) / 1000);
    return reply->errorString();
}
