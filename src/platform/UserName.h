#pragma once

#include <QString>

namespace Platform {

// The account name of the user running the process (on Windows the logon name,
// elsewhere the effective user's). It keys everything that must be per user,
// such as the single-instance names. Empty only when the system cannot tell.
QString currentUserName();

} // namespace Platform
