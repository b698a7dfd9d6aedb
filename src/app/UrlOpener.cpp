#include "app/UrlOpener.h"

#include <QDesktopServices>

namespace {
UrlOpener::Handler &handler() {
    static UrlOpener::Handler h;
    return h;
}
} // namespace

bool UrlOpener::open(const QUrl &url) {
    if (handler())
        return handler()(url);
    return QDesktopServices::openUrl(url);
}

void UrlOpener::setHandler(Handler h) {
    handler() = std::move(h);
}
