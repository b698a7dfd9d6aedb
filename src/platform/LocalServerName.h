#pragma once

#include <QString>

namespace Platform {

// Where a local server of this user called `name` listens. On Windows the
// name itself (a pipe of the user's session); elsewhere a socket in the
// user's private runtime directory, so that no other user can reach it.
QString localServerName(const QString &name);

} // namespace Platform
