#include "support/Timer.h"

#include "support/Dialogs.h"
#include "support/Exception.h"

#include <QEventLoop>

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

// The report of an error that leaves a tick waits for the user in an event
// loop of its own; the timer that raised it goes on ticking meanwhile.
TEST(Timer, KeepsTickingWhileTheReportOfItsErrorIsOpen)
{
    TTimer timer(nullptr, 5, true);
    QEventLoop program;
    QEventLoop *report = nullptr;
    int ticks = 0, ticksUnderReport = 0;
    timer.OnTimer = [&] {
        if (report && ++ticksUnderReport == 3)
            report->quit();
        if (++ticks == 1)
            throw Exception("PTT failed");
    };
    QString reported;
    Dialogs::SetHooks({{}, {}, [&](const QString &, const QString &text) {
                           reported = text;
                           QEventLoop box;
                           report = &box;
                           QTimer::singleShot(3000, &box, &QEventLoop::quit);
                           box.exec();
                           report = nullptr;
                           program.quit();
                       }});
    QTimer::singleShot(10000, &program, &QEventLoop::quit);
    program.exec();
    Dialogs::SetHooks({});
    EXPECT_EQ(reported, "PTT failed.");
    EXPECT_EQ(ticksUnderReport, 3);
}
