#pragma once

#include "ReplyWriter.h"

#include <QString>
#include <QStringList>
#include <QUrlQuery>

class ServiceStore;

// The service's GET addresses: the installer download and the small web
// pages the client opens in the system browser.
class WebPages {
public:
    // Every GET address served.
    static QStringList paths();
    static ServiceReply answer(ServiceStore &store, const QString &path, const QUrlQuery &query);
    static QByteArray installerFor(const QString &platform);
};
