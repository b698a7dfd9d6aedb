#include "platform/WindowFront.h"

#include <QWidget>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#ifdef Q_CC_MSVC
#pragma comment(lib, "user32.lib")
#endif
#endif

void Platform::bringToFront(QWidget *window) {
    if (!window)
        return;
    if (window->isMinimized())
        window->setWindowState(window->windowState() & ~Qt::WindowMinimized);
    window->show();
    window->activateWindow();
    window->raise();
#ifdef Q_OS_WIN
    // Windows refuses to let a background process steal the foreground; a brief
    // trip through the topmost band brings the window up all the same.
    const HWND handle = reinterpret_cast<HWND>(window->winId());
    SetWindowPos(handle, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
    SetWindowPos(handle, HWND_NOTOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_SHOWWINDOW);
#endif
}
