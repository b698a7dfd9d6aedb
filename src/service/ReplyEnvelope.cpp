#include "ReplyEnvelope.h"

#include "service/ReplyLimits.h"

#include <QString>
#include <QStringDecoder>
#include <QXmlStreamReader>

namespace {

bool isData(QStringView tag) {
    return tag == QLatin1String("file") || tag == QLatin1String("metadatoValue");
}

bool isUtf8(QStringView encoding) {
    return encoding.isEmpty() || encoding.compare(QLatin1String("UTF-8"), Qt::CaseInsensitive) == 0;
}

} // namespace

QByteArray ReplyEnvelope::strip(const QByteArray &reply, bool *overLimits) {
    *overLimits = false;
    // Offsets are counted in characters of the decoded text.
    QStringDecoder decoder(QStringConverter::Utf8);
    const QString text = decoder(reply);
    if (decoder.hasError())
        return QByteArray();
    QXmlStreamReader xml(text);
    xml.setNamespaceProcessing(false);
    QString envelope;
    qint64 copied = 0; // text before this offset is in the envelope or left out
    qint64 cutFrom = 0;
    int cutDepth = 0;   // > 0 inside a left-out element
    int bodyDepth = -1; // >= 0 inside the first body
    bool bodySeen = false;
    ReplyLimits limits;
    while (!xml.atEnd()) {
        const qint64 tokenStart = xml.characterOffset();
        const QXmlStreamReader::TokenType token = xml.readNext();
        if (!limits.accept(xml)) {
            *overLimits = true;
            return QByteArray();
        }
        switch (token) {
        case QXmlStreamReader::StartDocument:
            if (!isUtf8(xml.documentEncoding()))
                return QByteArray();
            break;
        case QXmlStreamReader::DTD:
        case QXmlStreamReader::EntityReference:
            return QByteArray();
        case QXmlStreamReader::StartElement:
            if (cutDepth > 0) {
                if (!isData(xml.qualifiedName()))
                    return QByteArray();
                ++cutDepth;
            } else if (bodyDepth >= 0) {
                ++bodyDepth;
                if (isData(xml.qualifiedName())) {
                    cutFrom = tokenStart;
                    cutDepth = 1;
                }
            } else if (!bodySeen && xml.qualifiedName() == QLatin1String("body")) {
                bodySeen = true;
                bodyDepth = 0;
            }
            break;
        case QXmlStreamReader::EndElement:
            if (cutDepth > 0 && --cutDepth == 0) {
                envelope += QStringView(text).mid(copied, cutFrom - copied);
                copied = xml.characterOffset();
            }
            if (cutDepth == 0 && bodyDepth >= 0)
                --bodyDepth;
            break;
        case QXmlStreamReader::Characters:
            if (cutDepth > 0 && !xml.isWhitespace())
                return QByteArray();
            break;
        default:
            break;
        }
    }
    if (xml.hasError() || copied == 0)
        return QByteArray();
    envelope += QStringView(text).mid(copied);
    return envelope.toUtf8();
}
