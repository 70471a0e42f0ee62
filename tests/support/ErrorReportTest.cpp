#include "support/Application.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/Timer.h"

#include "TestSupport.h"

#include <QEventLoop>
#include <gtest/gtest.h>

TEST(ErrorReport, FullStopAppendedUnlessLastCharacterSortsAtOrBelowIt)
{
    EXPECT_EQ(ErrorReport::ReportText("Unable to write to /x/k.ini"), "Unable to write to /x/k.ini.");
    EXPECT_EQ(ErrorReport::ReportText("Done."), "Done.");
    EXPECT_EQ(ErrorReport::ReportText("(Error: 25)"), "(Error: 25)") << "')' sorts below '.'";
    EXPECT_EQ(ErrorReport::ReportText("a-"), "a-");
    EXPECT_EQ(ErrorReport::ReportText("x/"), "x/.") << "'/' sorts above '.'";
    EXPECT_EQ(ErrorReport::ReportText(""), "");
    EXPECT_EQ(ErrorReport::ReportText("WriteFile function failed\nPlug it in\n(Error: 5)"),
              "WriteFile function failed.\nPlug it in.\n(Error: 5)") << "each line by the rule";
}

TEST(ErrorReport, ErrorLeavingATimerHandlerIsReportedAndTheTimerGoesOn)
{
    RecordedDialogs dialogs;
    Application::SetTitle("KOTARPlus");
    TTimer timer(nullptr, 1, true);
    int ticks = 0;
    QEventLoop loop;
    timer.OnTimer = [&] {
        if (++ticks == 2)
            loop.quit();
        throw Exception("Port failure");
    };
    loop.exec();
    EXPECT_EQ(ticks, 2);
    ASSERT_GE(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0], "KOTARPlus|Port failure.");
}
