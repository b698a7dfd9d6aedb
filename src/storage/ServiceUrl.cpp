#include "ServiceUrl.h"

#include <QtGlobal>

namespace ServiceUrl {

QString withoutTrailingSlashes(QString url) {
    while (url.endsWith(QLatin1Char('/')))
        url.chop(1);
    return url;
}

QString defaultUrl() {
    const QString fromEnvironment =
        withoutTrailingSlashes(qEnvironmentVariable("QUILLORA_SERVICE_URL"));
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    return withoutTrailingSlashes(QStringLiteral(QUILLORA_DEFAULT_URL));
}

} // namespace ServiceUrl
