#pragma once

#include <QtGlobal>

class QProgressBar;

// A progress bar counts in int: sizes beyond it (files over 2 GiB) are shown
// in coarser units so that the bar still fills in proportion. Sizes within it
// are shown as they are.
void showProgress(QProgressBar *bar, qint64 done, qint64 total);
