#pragma once

class QWidget;

namespace Platform {

// Shows a window, restores it if minimised and puts it in front of other
// applications without leaving it always on top.
void bringToFront(QWidget *window);

} // namespace Platform
