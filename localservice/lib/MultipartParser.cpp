#include "MultipartParser.h"

namespace {
const QByteArray kCrLf = QByteArrayLiteral("\r\n");

// Value of parameter `name` in a header value such as
// `form-data; name="xml"; filename="a b.pdf"`. Quoted values may hold ';'.
bool headerParameter(const QByteArray &value, const QByteArray &name, QByteArray *result) {
    int i = value.indexOf(';');
    while (i >= 0 && i < value.size()) {
        ++i;
        while (i < value.size() && (value.at(i) == ' ' || value.at(i) == '\t'))
            ++i;
        const int eq = value.indexOf('=', i);
        if (eq < 0)
            return false;
        const QByteArray key = value.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        QByteArray parsed;
        if (i < value.size() && value.at(i) == '"') {
            ++i;
            // No backslash escapes: form fields carry Windows paths verbatim.
            while (i < value.size() && value.at(i) != '"') {
                parsed.append(value.at(i));
                ++i;
            }
            if (i >= value.size())
                return false; // unterminated quote
            ++i;
            i = value.indexOf(';', i);
        } else {
            const int end = value.indexOf(';', i);
            parsed = value.mid(i, end < 0 ? -1 : end - i).trimmed();
            i = end;
        }
        if (key == name) {
            *result = parsed;
            return true;
        }
    }
    return false;
}
} // namespace

QByteArray MultipartPart::header(const QByteArray &lowerCaseName) const {
    for (const auto &h : headers) {
        if (h.first == lowerCaseName)
            return h.second;
    }
    return QByteArray();
}

QByteArray MultipartParser::boundaryOf(const QByteArray &contentType) {
    const int semicolon = contentType.indexOf(';');
    const QByteArray type =
        (semicolon < 0 ? contentType : contentType.left(semicolon)).trimmed().toLower();
    if (!type.startsWith("multipart/"))
        return QByteArray();
    QByteArray boundary;
    if (!headerParameter(contentType, "boundary", &boundary))
        return QByteArray();
    // RFC 2046: 1 to 70 characters.
    if (boundary.isEmpty() || boundary.size() > 70)
        return QByteArray();
    return boundary;
}

bool MultipartParser::parse(const QByteArray &body, const QByteArray &boundary,
                            QList<MultipartPart> *parts, QString *error) {
    parts->clear();
    auto failed = [error](const QString &why) {
        if (error)
            *error = why;
        return false;
    };
    if (boundary.isEmpty())
        return failed(QStringLiteral("boundary mancante"));

    const QByteArray delimiter = "--" + boundary;
    // The first delimiter may open the body or follow a preamble line.
    // Positions are 64-bit: an upload may be larger than 2 GiB.
    qsizetype pos = 0;
    if (!body.startsWith(delimiter)) {
        pos = body.indexOf(kCrLf + delimiter);
        if (pos < 0)
            return failed(QStringLiteral("delimitatore iniziale assente"));
        pos += kCrLf.size();
    }
    pos += delimiter.size();
    const QByteArray separator = kCrLf + delimiter;
    for (;;) {
        if (body.mid(pos, 2) == "--")
            return true; // closing delimiter; an epilogue is ignored
        // Transport padding, then the line break ending the delimiter line.
        while (pos < body.size() && (body.at(pos) == ' ' || body.at(pos) == '\t'))
            ++pos;
        if (body.mid(pos, 2) != kCrLf)
            return failed(QStringLiteral("delimitatore malformato"));
        pos += 2;

        const qsizetype headerEnd = body.indexOf("\r\n\r\n", pos - 2);
        if (headerEnd < 0)
            return failed(QStringLiteral("intestazioni della parte non terminate"));
        MultipartPart part;
        if (headerEnd >= pos) {
            const QList<QByteArray> lines = body.mid(pos, headerEnd - pos).split('\n');
            for (QByteArray line : lines) {
                if (line.endsWith('\r'))
                    line.chop(1);
                const int colon = line.indexOf(':');
                if (colon <= 0)
                    return failed(QStringLiteral("intestazione malformata nella parte"));
                part.headers.append(
                    {line.left(colon).trimmed().toLower(), line.mid(colon + 1).trimmed()});
            }
        }
        const qsizetype bodyStart = headerEnd + 4;
        const qsizetype bodyEnd = body.indexOf(separator, bodyStart);
        if (bodyEnd < 0)
            return failed(QStringLiteral("delimitatore finale assente"));
        part.body = body.mid(bodyStart, bodyEnd - bodyStart);
        part.contentType = part.header("content-type");

        const QByteArray disposition = part.header("content-disposition");
        QByteArray name;
        if (!disposition.trimmed().toLower().startsWith("form-data") ||
            !headerParameter(disposition, "name", &name))
            return failed(QStringLiteral("parte senza nome"));
        part.name = QString::fromUtf8(name);
        QByteArray fileName;
        part.hasFileName = headerParameter(disposition, "filename", &fileName);
        part.fileName = QString::fromUtf8(fileName);
        parts->append(part);
        pos = bodyEnd + separator.size();
    }
}
