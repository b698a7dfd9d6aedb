#include "service/ReadLimit.h"

#include <QNetworkReply>

void limitReadBuffer(QNetworkReply *reply, qint64 bytes) {
    reply->setReadBufferSize(bytes);
    QObject::connect(
        reply, &QNetworkReply::metaDataChanged, reply,
        [reply, bytes] { reply->setReadBufferSize(bytes); }, Qt::SingleShotConnection);
}
