#include "UploadMultipart.h"

#include <QFile>
#include <QNetworkRequest>

QHttpMultiPart *uploadMultipart(const QByteArray &xml, const QString &path,
                                const QString &fileName) {
    auto *multiPart = new QHttpMultiPart(QHttpMultiPart::FormDataType);
    auto *device = new QFile(path, multiPart);
    if (!device->open(QIODevice::ReadOnly)) {
        delete multiPart;
        return nullptr;
    }
    QHttpPart xmlPart;
    xmlPart.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("text/xml;charset=UTF-8"));
    xmlPart.setHeader(QNetworkRequest::ContentDispositionHeader,
                      QStringLiteral("form-data; name=\"xml\""));
    xmlPart.setBody(xml);
    QHttpPart filePart;
    filePart.setHeader(QNetworkRequest::ContentTypeHeader,
                       QStringLiteral("application/octet-stream"));
    filePart.setHeader(QNetworkRequest::ContentDispositionHeader,
                       QStringLiteral("form-data; name=\"file\"; filename=\"%1\"").arg(fileName));
    filePart.setBodyDevice(device);
    multiPart->append(xmlPart);
    multiPart->append(filePart);
    return multiPart;
}
