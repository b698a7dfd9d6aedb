#include "ServiceXml.h"

QByteArray envelope(const QString &action, const QString &elements) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><request><action>%1</action>"
                          "%2</request>")
        .arg(action, elements)
        .toUtf8();
}

QByteArray serviceReply(const QString &status, const QString &inner) {
    return QStringLiteral("<?xml version=\"1.0\" encoding=\"UTF-8\"?><response><statusnumber>%1"
                          "</statusnumber><body>%2</body></response>")
        .arg(status, inner)
        .toUtf8();
}
