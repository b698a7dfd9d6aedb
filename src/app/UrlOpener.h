#pragma once

#include <QUrl>

#include <functional>

// Every address the program hands to the desktop's browser goes through here,
// so that tests can record the addresses instead of launching a browser.
class UrlOpener {
public:
    using Handler = std::function<bool(const QUrl &)>;

    // True when the address was handed over.
    static bool open(const QUrl &url);

    // Replaces the desktop's opener (tests); an empty handler restores it.
    static void setHandler(Handler handler);
};
