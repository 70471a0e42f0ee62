#include "support/Timer.h"

#include <gtest/gtest.h>

TEST(Timer, EnableAndIntervalChangeOnlyOnChange)
{
    TTimer timer(nullptr, 1000, false);
    EXPECT_FALSE(timer.IsActive());
    timer.SetEnabled(true);
    EXPECT_TRUE(timer.IsActive());
    timer.SetInterval(100);
    EXPECT_EQ(timer.Interval(), 100);
    EXPECT_TRUE(timer.IsActive());
    timer.SetInterval(0);
    EXPECT_TRUE(timer.Enabled());
    EXPECT_FALSE(timer.IsActive()) << "an interval of 0 keeps an enabled timer silent";
    timer.SetEnabled(false);
    EXPECT_FALSE(timer.Enabled());
}
