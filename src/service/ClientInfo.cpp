#include "ClientInfo.h"

#include <QSysInfo>

namespace ClientInfo {

QString version() {
    return QStringLiteral(QUILLORA_VERSION);
}

QString platform() {
#ifdef Q_OS_WIN
    return QStringLiteral("win");
#else
    return QSysInfo::kernelType();
#endif
}

} // namespace ClientInfo
