#include "app/UrlOpener.h"

#include "app/MessageBox.h"

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

bool UrlOpener::openOrTell(QWidget *parent, const QUrl &url) {
    if (open(url))
        return true;
    MessageBox::warning(parent, QStringLiteral("Apertura pagina"),
                        QStringLiteral("Impossibile aprire il browser. Per visitare la pagina, "
                                       "copia questo indirizzo nel browser:\n%1")
                            .arg(url.toString()));
    return false;
}

void UrlOpener::setHandler(Handler h) {
    handler() = std::move(h);
}
