#include "service/AbortLater.h"

#include <QNetworkReply>

void abortLater(QNetworkReply *reply) {
    QMetaObject::invokeMethod(
        reply,
        [reply] {
            if (!reply->isFinished())
                reply->abort();
        },
        Qt::QueuedConnection);
}
