#pragma once

#include <QByteArray>
#include <QHttpMultiPart>
#include <QString>

// The body of an upload as the client sends it: the request XML, then the
// file at `path` under the name `fileName`. The file is opened here and is
// owned by the multipart; null when it cannot be opened.
QHttpMultiPart *uploadMultipart(const QByteArray &xml, const QString &path,
                                const QString &fileName);
