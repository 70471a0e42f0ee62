#pragma once
#include <QString>

// Small text helpers for reading the configuration and writing the trace log.

// A character filter, not a number parser: true when the text is not empty and
// holds only digits, commas, minus signs and full stops.
bool IsNumeric(const QString &text);
QString UpperText(const QString &text);
// "TRUE", "YES" or "ON" in any case; nothing is trimmed.
bool TextToBool(const QString &text);
QString BoolToText(bool flag);
