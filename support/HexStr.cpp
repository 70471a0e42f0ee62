#include "support/HexStr.h"

bool IsNumeric(const QString &text)
{
    if (text.isEmpty())
        return false;
    for (QChar c : text) {
        const char16_t u = c.unicode();
        if (!((u >= '0' && u <= '9') || u == ',' || u == '-' || u == '.'))
            return false;
    }
    return true;
}

// Letter by letter, so that the length never changes.
QString UpperText(const QString &text)
{
    QString upper = text;
    for (QChar &c : upper)
        c = c.toUpper();
    return upper;
}

bool TextToBool(const QString &text)
{
    const QString upper = UpperText(text);
    return upper == "TRUE" || upper == "YES" || upper == "ON";
}

QString BoolToText(bool flag) { return flag ? QStringLiteral("TRUE") : QStringLiteral("FALSE"); }
