#pragma once

class QCoreApplication;

namespace QtTranslation {

// Installs Qt's own Italian texts (standard buttons, dialogs) on the
// application when the translation files are present; without them the
// program simply runs with Qt's English texts.
void installItalian(QCoreApplication *app);

} // namespace QtTranslation
