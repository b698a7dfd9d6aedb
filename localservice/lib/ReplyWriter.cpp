#include "ReplyWriter.h"

#include <QBuffer>
#include <QFile>

#include <utility>

ReplyWriter::ReplyWriter(const char *status, const QString &description)
    : m_xml(&m_buffer)
    , m_status(QString::fromLatin1(status)) {
    writeHead(description);
}

ReplyWriter::ReplyWriter(QIODevice *device, const char *status, const QString &description)
    : m_xml(device)
    , m_status(QString::fromLatin1(status)) {
    writeHead(description);
}

void ReplyWriter::writeHead(const QString &description) {
    m_xml.writeStartDocument();
    m_xml.writeStartElement(QStringLiteral("response"));
    m_xml.writeTextElement(QStringLiteral("statusnumber"), m_status);
    m_xml.writeStartElement(QStringLiteral("body"));
    m_xml.writeTextElement(QStringLiteral("statusdescription"), description);
}

ServiceReply ReplyWriter::finish(int httpStatus) {
    m_xml.writeEndDocument(); // closes body and response
    ServiceReply reply;
    reply.httpStatus = httpStatus;
    reply.body = std::move(m_buffer);
    reply.statusNumber = m_status;
    return reply;
}

ServiceReply ReplyWriter::failure(const char *status, const QString &description) {
    return ReplyWriter(status, description).finish(500);
}

ServiceReply ReplyWriter::streamed(const char *status, const QString &description,
                                   std::function<bool(QXmlStreamWriter &)> rows) {
    ServiceReply reply;
    reply.statusNumber = QString::fromLatin1(status);
    reply.produce = [status, description, rows](QIODevice *device) {
        ReplyWriter writer(device, status, description);
        // A document the store could not finish is left unclosed.
        if (!rows(writer.xml()))
            return false;
        writer.m_xml.writeEndDocument();
        return !writer.m_xml.hasError();
    };
    return reply;
}

bool ServiceReply::materialise() {
    if (!filePath.isEmpty()) {
        QFile file(std::exchange(filePath, QString()));
        if (!file.open(QIODevice::ReadOnly))
            return false;
        body = file.readAll();
        return file.error() == QFileDevice::NoError;
    }
    if (!produce)
        return true;
    QBuffer buffer(&body);
    buffer.open(QIODevice::WriteOnly);
    const bool made = produce(&buffer);
    produce = nullptr;
    return made;
}
