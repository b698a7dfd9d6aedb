#include "ReplyEnvelope.h"

#include "service/ReplyLimits.h"
#include "service/ReplyReader.h"

#include <QString>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>

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

QByteArray ReplyEnvelope::strip(const QByteArray &reply, bool *overLimits) {
    *overLimits = false;
    // The small envelope is written anew, never cut from the reply as text.
    ReplyReader reader(reply);
    QXmlStreamReader &xml = reader.xml;
    QByteArray envelope;
    QXmlStreamWriter out(&envelope);
    bool cut = false;   // some element was left out
    int cutDepth = 0;   // > 0 inside a left-out element
    int bodyDepth = -1; // >= 0 inside the first body
    bool bodySeen = false;
    ReplyLimits limits;
    while (!xml.atEnd()) {
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (!limits.accept(xml)) {
            *overLimits = true;
            return QByteArray();
        }
        switch (token) {
        case QXmlStreamReader::StartDocument:
            if (!isUtf8(xml.documentEncoding()))
                return QByteArray();
            if (!xml.documentVersion().isEmpty())
                out.writeStartDocument(xml.documentVersion().toString());
            break;
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return QByteArray();
        case QXmlStreamReader::StartElement:
            if (cutDepth > 0) {
                if (!isData(xml.qualifiedName()))
                    return QByteArray();
                ++cutDepth;
                break;
            }
            if (bodyDepth >= 0) {
                ++bodyDepth;
                if (isData(xml.qualifiedName())) {
                    cutDepth = 1;
                    cut = true;
                    break;
                }
            } else if (!bodySeen && xml.qualifiedName() == QLatin1String("body")) {
                bodySeen = true;
                bodyDepth = 0;
            }
            out.writeStartElement(xml.qualifiedName().toString());
            for (const QXmlStreamAttribute &attribute : xml.attributes())
                out.writeAttribute(attribute.qualifiedName().toString(),
                                   attribute.value().toString());
            break;
        case QXmlStreamReader::EndElement:
            if (cutDepth > 0) {
                --cutDepth;
            } else {
                out.writeEndElement();
            }
            if (cutDepth == 0 && bodyDepth >= 0)
                --bodyDepth;
            break;
        case QXmlStreamReader::Characters:
            if (cutDepth > 0 && !xml.isWhitespace())
                return QByteArray();
            if (cutDepth == 0)
                writeText(out, xml);
            break;
        case QXmlStreamReader::Comment:
            if (cutDepth == 0)
                out.writeComment(xml.text().toString());
            break;
        case QXmlStreamReader::ProcessingInstruction:
            if (cutDepth == 0)
                out.writeProcessingInstruction(xml.processingInstructionTarget().toString(),
                                               xml.processingInstructionData().toString());
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || !cut)
        return QByteArray();
    return envelope;
}
