#pragma once

#include <QString>

// A value to be pasted into a request template: the five XML special
// characters become entities, so user text can neither break the document nor
// add elements to it. Text without them comes back unchanged.
QString xmlEscaped(const QString &value);
