#include "ReplyLimits.h"

#include "service/ReplyReader.h"

#include <QXmlStreamReader>

bool ReplyLimits::accept(const QXmlStreamReader &xml) {
    switch (xml.tokenType()) {
    case QXmlStreamReader::StartElement:
        m_textRun = 0;
        if (++m_depth > kMaxDepth)
            return false;
        for (const QXmlStreamAttribute &attribute : xml.attributes()) {
            if (attribute.value().size() > kMaxValueChars)
                return false;
        }
        return true;
    case QXmlStreamReader::EndElement:
        m_textRun = 0;
        --m_depth;
        return true;
    case QXmlStreamReader::Characters:
        m_textRun += xml.text().size();
        return m_textRun <= kMaxValueChars;
    case QXmlStreamReader::Comment:
    case QXmlStreamReader::ProcessingInstruction:
        m_textRun = 0;
        return xml.text().size() <= kMaxValueChars &&
               xml.processingInstructionData().size() <= kMaxValueChars;
    default:
        m_textRun = 0;
        return true;
    }
}

bool ReplyLimits::withinLimits(const QByteArray &reply) {
    ReplyReader reader(reply);
    QXmlStreamReader &xml = reader.xml;
    ReplyLimits limits;
    while (!xml.atEnd()) {
        xml.readNext();
        if (!limits.accept(xml))
            return false;
    }
    return true;
}
