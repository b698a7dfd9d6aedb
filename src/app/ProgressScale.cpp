#include "app/ProgressScale.h"

#include <QProgressBar>

#include <limits>

void showProgress(QProgressBar *bar, qint64 done, qint64 total) {
    constexpr qint64 intMax = std::numeric_limits<int>::max();
    constexpr qint64 intMin = std::numeric_limits<int>::min();
    // The smallest power of two that brings the total within range keeps the
    // most precision.
    int shift = 0;
    while ((total >> shift) > intMax)
        ++shift;
    bar->setMaximum(int(total >> shift));
    // A count past the total must not wrap round into a plausible value.
    bar->setValue(int(qBound(intMin, done >> shift, intMax)));
}
