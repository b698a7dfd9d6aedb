#include "platform/WriteBehind.h"

#ifdef Q_OS_LINUX
#include <fcntl.h>
#endif

void Platform::startWriteBehind(int fd, qint64 offset, qint64 length) {
#ifdef Q_OS_LINUX
    // Only a hint: a failure leaves the work to the sync.
    (void)sync_file_range(fd, offset, length, SYNC_FILE_RANGE_WRITE);
#else
    Q_UNUSED(fd);
    Q_UNUSED(offset);
    Q_UNUSED(length);
#endif
}
