#include "support/HexStr.h"

#include <gtest/gtest.h>

TEST(TextHelpers, IsNumericIsACharacterFilterNotAParser)
{
    for (const char *yes : {"0", "-1", ".", "1.2.3", "5-", ",,", "-"})
        EXPECT_TRUE(IsNumeric(yes)) << yes;
    for (const char *no : {"", "1 0", "+5", "1e3", " 1"})
        EXPECT_FALSE(IsNumeric(no)) << no;
}

TEST(TextHelpers, TextToBoolAcceptsOnlyTheThreeWordsInAnyCase)
{
    for (const char *yes : {"yes", "Yes", "on", "true", "TRUE"})
        EXPECT_TRUE(TextToBool(yes)) << yes;
    for (const char *no : {"Y", "1", "NO", "OFF", " YES", ""})
        EXPECT_FALSE(TextToBool(no)) << no;
}

TEST(TextHelpers, UpperTextAndBoolToText)
{
    EXPECT_EQ(UpperText("com3"), "COM3");
    EXPECT_EQ(UpperText(""), "");
    EXPECT_EQ(UpperText(QString::fromUtf8("straße")).size(), 6) << "length never changes";
    EXPECT_EQ(UpperText(QString::fromUtf8("é")), QString::fromUtf8("É"));
    EXPECT_EQ(BoolToText(true), "TRUE");
    EXPECT_EQ(BoolToText(false), "FALSE");
}
