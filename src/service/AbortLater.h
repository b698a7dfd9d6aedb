#pragma once

class QNetworkReply;

// Aborts `reply` from the event loop, unless it has finished by then: an
// abort ends a reply at once, and its end must not reach code that is still
// inside a handler of that reply.
void abortLater(QNetworkReply *reply);
