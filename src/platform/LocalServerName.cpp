#include "platform/LocalServerName.h"

#include <QDir>
#include <QStandardPaths>

QString Platform::localServerName(const QString &name) {
#ifdef Q_OS_WIN
    return name;
#else
    // Qt makes sure the directory is the user's own and closed to others
    // (0700), creating one when the session has none.
    const QString runtime = QStandardPaths::writableLocation(QStandardPaths::RuntimeLocation);
    return runtime.isEmpty() ? name : QDir(runtime).filePath(name);
#endif
}
