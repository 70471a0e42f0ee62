#pragma once
#include <QString>

// One line on the standard error, for what the user must learn when no window
// can tell it (or none is there yet).
void WriteStandardError(const QString &text);
