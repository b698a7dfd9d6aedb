#pragma once

#include <QUrl>

class QWidget;

#include <functional>

// Every address the program hands to the desktop's browser goes through here,
// so that tests can record the addresses instead of launching a browser.
class UrlOpener {
public:
    using Handler = std::function<bool(const QUrl &)>;

    // True when the address was handed over.
    static bool open(const QUrl &url);
    // As open(); when no browser takes the address, a box gives it to the
    // user to copy.
    static bool openOrTell(QWidget *parent, const QUrl &url);

    // Replaces the desktop's opener (tests); an empty handler restores it.
    static void setHandler(Handler handler);
};
