#pragma once

#include <QString>

// What the client says about itself to the service.
namespace ClientInfo {
// The client's version, "1.2.1".
QString version();
// "win" on Windows; elsewhere the system's own short name (e.g. "linux"), so
// the service hands out an installer for the system the client runs on.
QString platform();
} // namespace ClientInfo
