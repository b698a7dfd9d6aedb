#pragma once

#include <QString>

class QNetworkReply;

// How long a request may go without a byte sent or received before it ends as
// a network failure: a service that accepts the connection and then says
// nothing must not hold a window for ever. One value for every connection.
namespace Inactivity {
int timeoutMs();
// For requests made from now on (tests shorten it).
void setTimeoutMs(int ms);
// Marks a reply the user cancelled, so its abort does not read as a stall.
void markCancelled(QNetworkReply *reply);
// What the user is told about a failed reply: a stalled one gets a text of
// its own instead of the network layer's "operation cancelled".
QString failureText(const QNetworkReply *reply);
} // namespace Inactivity
