#pragma once

#include <QtGlobal>

class QNetworkReply;

// Bounds what the network stack holds of `reply` while its reader is slower
// than the network. The network thread learns the limit only once its own
// reply exists, which is surely so when the headers have come, so it is said
// again then: told only at creation, the whole stream would pile up there.
void limitReadBuffer(QNetworkReply *reply, qint64 bytes);
