#include "audio/CaptureLevel.h"
#include "core/SignalLevel.h"

#include <array>
#include <cmath>
#include <limits>
#include <gtest/gtest.h>

TEST(SignalLevel, ThreeTruncations)
{
    std::array<float, 513> frame{};
    EXPECT_EQ(SignalLevel(frame.data(), 3), 0u);
    // 128 bins each just short of 1/500: every product truncates to 0.
    for (int i = 0; i < 128; ++i)
        frame[5 + 3 * i] = 0.00199f;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 0u);
    // Exactly 1/500 each: sum 1280, level 10.
    for (int i = 0; i < 128; ++i)
        frame[5 + 3 * i] = 0.002f;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 10u);
    // 12 units in one bin: 120 / 128 truncates to 0; 13 give 1.
    frame.fill(0);
    frame[5] = 12.5f / 500;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 0u);
    frame[5] = 13.5f / 500;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 1u);
}

TEST(SignalLevel, ReadsEveryBinStepFromBinFiveAndNegativeValuesCountByMagnitude)
{
    std::array<float, 513> frame{};
    frame[4] = 1;
    frame[6] = 1;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 0u) << "bins between the steps are not read";
    frame[8] = -0.1f;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 3u) << "|-0.1| x 500 = 50, 500 / 128 = 3";
    frame[386] = 0.1f;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 7u) << "bin 386 is the 128th";
    frame[389] = 1;
    EXPECT_EQ(SignalLevel(frame.data(), 3), 7u) << "bin 389 is beyond it";
}

TEST(SignalLevel, StepsThatWouldReadBeyondTheFrameStopAtItsEnd)
{
    std::array<float, 513> frame{};
    frame.fill(1);
    frame[512] = 1e9f; // the 513th value is never read
    EXPECT_EQ(SignalLevel(frame.data(), 5), uint32_t(10 * 500 * 102 / 128));
}

TEST(SignalLevel, ARunawayLoopsInfAndNaNCountAsTheLoudestBinAndTheDbfsStaysANumber)
{
    std::array<float, 513> frame{};
    frame[5] = std::numeric_limits<float>::infinity();
    frame[8] = std::numeric_limits<float>::quiet_NaN();
    EXPECT_EQ(SignalLevel(frame.data(), 3), uint32_t(2 * 10 * 1000000 / 128));
    EXPECT_TRUE(std::isfinite(FrameLevel(frame.data(), 3).Dbfs));
    EXPECT_GT(FrameLevel(frame.data(), 3).Dbfs, 0.0);
    frame.fill(0.0f);
    frame[40] = 0.5f;
    EXPECT_NEAR(FrameLevel(frame.data(), 3).Dbfs, -6.0206, 1e-4);
}
