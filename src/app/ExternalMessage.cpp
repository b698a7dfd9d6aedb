#include "app/ExternalMessage.h"

#include <QDataStream>
#include <QDomDocument>
#include <QXmlStreamWriter>
#include <QtEndian>

QByteArray ExternalMessage::encode(const QString &text) {
    QByteArray block;
    QDataStream out(&block, QIODevice::WriteOnly);
    out.setVersion(QDataStream::Qt_4_0);
    out << text;
    return block;
}

ExternalMessage::Status ExternalMessage::decode(const QByteArray &data, QString *text) {
    if (data.size() < 4)
        return Status::Incomplete;
    const quint32 bytes = qFromBigEndian<quint32>(data.constData());
    // A null string (all ones) carries no request; an odd count is no UTF-16.
    if (bytes > MaxTextBytes || bytes % 2 != 0)
        return Status::Malformed;
    if (data.size() < qsizetype(4 + bytes))
        return Status::Incomplete;
    QDataStream in(QByteArray::fromRawData(data.constData(), qsizetype(4 + bytes)));
    in.setVersion(QDataStream::Qt_4_0);
    in >> *text;
    return in.status() == QDataStream::Ok ? Status::Complete : Status::Malformed;
}

QString ExternalMessage::request(const QString &command, const QString &parameter) {
    QString text;
    QXmlStreamWriter xml(&text);
    xml.writeStartDocument();
    xml.writeStartElement(QStringLiteral("request"));
    xml.writeTextElement(QStringLiteral("command"), command);
    xml.writeTextElement(QStringLiteral("parameter1"), parameter);
    xml.writeEndElement();
    xml.writeEndDocument();
    return text;
}

ExternalMessage::Request ExternalMessage::parse(const QString &text) {
    QDomDocument document;
    if (!document.setContent(text))
        return {};
    const auto first = [&document](const char *name) {
        return document.elementsByTagName(QLatin1String(name)).item(0).toElement().text();
    };
    return {first("command").toLower(), first("parameter1")};
}
