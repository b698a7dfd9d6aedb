#include "platform/FreeMemory.h"

#include <QtGlobal>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#elif defined(__GLIBC__)
#include <malloc.h>
#endif

void Platform::releaseFreeMemory() {
#ifdef Q_OS_WIN
    HeapCompact(GetProcessHeap(), 0);
#elif defined(__GLIBC__)
    malloc_trim(0);
#endif
}
