#pragma once

#include <QBuffer>
#include <QByteArray>
#include <QXmlStreamReader>

// A reply read as XML through a device, so that it is decoded a piece at a
// time and never held whole as text; prefixes count as part of the names.
struct ReplyReader {
    explicit ReplyReader(const QByteArray &reply) {
        device.setData(reply);
        device.open(QIODevice::ReadOnly);
        xml.setDevice(&device);
        xml.setNamespaceProcessing(false);
    }
    ReplyReader(const ReplyReader &) = delete;
    ReplyReader &operator=(const ReplyReader &) = delete;

    QBuffer device; // before the reader, which reads from it
    QXmlStreamReader xml;
};
