#pragma once

#include <QByteArray>
#include <QString>

// The XML documents of the service's protocol, as tests write them.

// A request for `action` with `elements` written in after it.
QByteArray envelope(const QString &action, const QString &elements = QString());

// A reply with status `status` and `inner` as its body.
QByteArray serviceReply(const QString &status, const QString &inner);
