#include "platform/ShellIcons.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <shlobj.h>
#ifdef Q_CC_MSVC
#pragma comment(lib, "shell32.lib")
#endif
#endif

void Platform::refreshShellIcons() {
#ifdef Q_OS_WIN
    SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
#endif
}
