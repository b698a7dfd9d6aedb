#include "ReplyEnvelope.h"

#include "service/ReplyLimits.h"
#include "service/ReplyReader.h"

#include <QString>
#include <QXmlStreamReader>

namespace {

bool isData(QStringView tag) {
    return tag == QLatin1String("file") || tag == QLatin1String("metadatoValue");
}

bool isUtf8(QStringView encoding) {
    return encoding.isEmpty() || encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0;
}

// A text as the tree had it: a carriage return written as such would be read
// back as a line feed, and a CDATA section stays one.
void writeText(QXmlStreamWriter &out, const QXmlStreamReader &xml) {
    if (xml.isCDATA()) {
        out.writeCDATA(xml.text().toString());
        return;
    }
    const QList<QStringView> lines = xml.text().split(QLatin1Char('\r'));
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (i > 0)
            out.writeEntityReference(QStringLiteral("#13"));
        if (!lines.at(i).isEmpty())
            out.writeCharacters(lines.at(i).toString());
    }
}

} // namespace

ReplyEnvelope::ReplyEnvelope(Content content)
    : m_out(&m_text)
    , m_content(content) {}

bool ReplyEnvelope::take(const QXmlStreamReader &xml) {
    switch (xml.tokenType()) {
    case QXmlStreamReader::StartDocument:
        if (!isUtf8(xml.documentEncoding()))
            return false;
        if (!xml.documentVersion().isEmpty())
            m_out.writeStartDocument(xml.documentVersion().toString());
        return true;
    case QXmlStreamReader::DTD:
    case QXmlStreamReader::EntityReference:
        return false;
    case QXmlStreamReader::StartElement:
        if (m_cutDepth > 0) {
            ++m_cutDepth;
            return m_content == Content::Dropped || isData(xml.qualifiedName());
        }
        if (m_bodyDepth >= 0) {
            ++m_bodyDepth;
            if (isData(xml.qualifiedName())) {
                m_cutDepth = 1;
                m_cut = true;
                return true;
            }
        } else if (!m_bodySeen && xml.qualifiedName() == QLatin1String("body")) {
            m_bodySeen = true;
            m_bodyDepth = 0;
        }
        m_out.writeStartElement(xml.qualifiedName().toString());
        for (const QXmlStreamAttribute &attribute : xml.attributes())
            m_out.writeAttribute(attribute.qualifiedName().toString(),
                                 attribute.value().toString());
        return true;
    case QXmlStreamReader::EndElement:
        if (m_cutDepth > 0)
            --m_cutDepth;
        else
            m_out.writeEndElement();
        if (m_cutDepth == 0 && m_bodyDepth >= 0)
            --m_bodyDepth;
        return true;
    case QXmlStreamReader::Characters:
        if (m_cutDepth > 0)
            return m_content == Content::Dropped || xml.isWhitespace();
        writeText(m_out, xml);
        return true;
    case QXmlStreamReader::Comment:
        if (m_cutDepth == 0)
            m_out.writeComment(xml.text().toString());
        return true;
    case QXmlStreamReader::ProcessingInstruction:
        if (m_cutDepth == 0)
            m_out.writeProcessingInstruction(xml.processingInstructionTarget().toString(),
                                             xml.processingInstructionData().toString());
        return true;
    default:
        return true;
    }
}

QByteArray ReplyEnvelope::strip(const QByteArray &reply, bool *overLimits) {
    *overLimits = false;
    ReplyReader reader(reply);
    QXmlStreamReader &xml = reader.xml;
    ReplyEnvelope envelope;
    ReplyLimits limits;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!limits.accept(xml)) {
            *overLimits = true;
            return QByteArray();
        }
        if (!envelope.take(xml))
            return QByteArray();
    }
    if (xml.hasError() || !envelope.isCut())
        return QByteArray();
    return envelope.m_text;
}
