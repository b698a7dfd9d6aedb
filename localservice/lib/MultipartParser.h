#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

// One part of a multipart/form-data body.
struct MultipartPart {
    QList<QPair<QByteArray, QByteArray>> headers; // names lower-cased, values trimmed
    QString name;     // the "name" parameter of Content-Disposition (UTF-8 decoded)
    QString fileName; // the "filename" parameter; empty when absent
    bool hasFileName = false;
    QByteArray contentType;
    QByteArray body;

    QByteArray header(const QByteArray &lowerCaseName) const;
};

// Splits a multipart/form-data body. The body is held in memory already (the
// HTTP server reads it whole), so parsing works on slices of one buffer.
class MultipartParser {
public:
    // The boundary named by a Content-Type value such as
    // `multipart/form-data; boundary="abc"` (quoted or not); empty when the
    // type is not multipart or has no usable boundary.
    static QByteArray boundaryOf(const QByteArray &contentType);

    // Parses `body` with `boundary`. Returns false, with a reason in `error`,
    // for a body that is not well formed: no opening delimiter, a part without
    // a blank line after its headers, a part without a name, or no closing
    // delimiter. Part bodies are binary-safe: only CRLF + "--" + boundary ends
    // a part.
    static bool parse(const QByteArray &body, const QByteArray &boundary,
                      QList<MultipartPart> *parts, QString *error);
};
