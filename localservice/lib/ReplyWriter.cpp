#include "ReplyWriter.h"

ReplyWriter::ReplyWriter(const char *status, const QString &description)
    : m_xml(&m_buffer)
    , m_status(QString::fromLatin1(status)) {
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
