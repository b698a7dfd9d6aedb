#pragma once

#include <QtGlobal>

namespace Platform {

// Starts putting a range of a file just written on disk, without waiting for
// it. A large file written this way as it arrives leaves little for the sync
// that makes it durable, so that sync does not add a long wait at the end.
// Where the system has no such call, nothing happens: the sync does it all.
void startWriteBehind(int fd, qint64 offset, qint64 length);

} // namespace Platform
