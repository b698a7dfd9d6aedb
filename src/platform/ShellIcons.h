#pragma once

namespace Platform {

// Asks the desktop shell to redraw file icons, so overlay icons that depend on
// the preservation state are refreshed. Only Windows' shell needs telling.
void refreshShellIcons();

} // namespace Platform
