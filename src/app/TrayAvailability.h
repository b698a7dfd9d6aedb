#pragma once

#include <optional>

// Whether the desktop offers a notification area. Without one, a window hidden
// to the tray could never come back, so closing the last visible window must
// quit instead. Tests force the answer both ways.
bool trayAvailable();
// std::nullopt asks the desktop again.
void setTrayAvailableOverride(std::optional<bool> available);
