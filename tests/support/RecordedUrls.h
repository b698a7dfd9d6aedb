#pragma once

#include <QList>
#include <QUrl>

// While it lives, addresses handed to the browser are recorded here instead
// of being opened.
class RecordedUrls {
public:
    RecordedUrls();
    ~RecordedUrls();
    RecordedUrls(const RecordedUrls &) = delete;
    RecordedUrls &operator=(const RecordedUrls &) = delete;

    const QList<QUrl> &urls() const { return m_urls; }

private:
    QList<QUrl> m_urls;
};
