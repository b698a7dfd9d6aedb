#include "platform/UserName.h"

#include <QMutex>
#include <QMutexLocker>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#ifdef Q_CC_MSVC
#pragma comment(lib, "advapi32.lib")
#endif
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace {

QString askSystem() {
#ifdef Q_OS_WIN
    wchar_t buffer[256] = {};
    DWORD size = 255;
    if (!GetUserNameW(buffer, &size))
        return QString();
    return QString::fromWCharArray(buffer);
#else
    const passwd *account = getpwuid(geteuid());
    return account && account->pw_name ? QString::fromLocal8Bit(account->pw_name) : QString();
#endif
}

} // namespace

QString Platform::currentUserName() {
    static QMutex mutex;
    static QString cached;
    const QMutexLocker locker(&mutex);
    // A failed look-up is not remembered: the next caller asks again.
    if (cached.isEmpty())
        cached = askSystem();
    return cached;
}
