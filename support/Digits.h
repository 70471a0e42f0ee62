#pragma once
#include <QStringView>
#include <algorithm>

// Text that is one or more ASCII digits and nothing else. Checked by hand
// where a regular expression would load and compile its engine at start-up.
inline bool AllDigits(QStringView text)
{
    return !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c >= '0' && c <= '9'; });
}
