#include "app/TrayAvailability.h"

#include <QSystemTrayIcon>

namespace {
std::optional<bool> &trayOverride() {
    static std::optional<bool> value;
    return value;
}
} // namespace

bool trayAvailable() {
    if (trayOverride())
        return *trayOverride();
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void setTrayAvailableOverride(std::optional<bool> available) {
    trayOverride() = available;
}
