#include "RecordedUrls.h"

#include "TestMain.h"
#include "app/UrlOpener.h"

RecordedUrls::RecordedUrls() {
    UrlOpener::setHandler([this](const QUrl &url) {
        m_urls.append(url);
        return true;
    });
}

RecordedUrls::~RecordedUrls() {
    failOnUnscriptedUrls();
}
