// Runs with the linesim library preloaded: LINESIM_DEVICE names a symlink that
// each test points at a fresh pseudo-terminal, LINESIM_LOG the line log.
#include "LineSimPort.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "ptt/CPort.h"

#include <QFile>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <memory>
#include <sys/ioctl.h>
#include <vector>

namespace {
class SerialLines : public ::testing::Test {
protected:
    TLineSimPort line;
    const QString FDevice = line.Device();
    QStringList Changes() { return line.Changes(); }
    int Lines() const { return line.Lines(); }
};
} // namespace

TEST_F(SerialLines, OpenLowersBothLinesAndPTTSwitchesDTRBeforeRTS)
{
    TComPort port(nullptr);
    port.SetPort(FDevice);
    port.OpenPort();
    EXPECT_EQ(Lines(), 0);
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));

    port.SetDTRLine(true);
    port.SetRTSLine(true);
    EXPECT_EQ(Lines(), TIOCM_DTR | TIOCM_RTS);
    EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
    port.SetDTRLine(false);
    port.SetRTSLine(false);
    EXPECT_EQ(Lines(), 0);
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));

    // Enabled control modes raise the lines when the settings are applied.
    port.FlowControl().SetControlDTR(dtrEnable);
    EXPECT_EQ(Changes(), QStringList({"DTR 1"}));
    port.FlowControl().SetControlDTR(dtrDisable);
    EXPECT_EQ(Changes(), QStringList({"DTR 0"}));
}

TEST_F(SerialLines, StartUpInSerialModeHoldsThePortWithBothLinesLow)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + FDevice + "\n");
    TFormPlayer window{QStringList()};
    ASSERT_NE(window.PTTComPort, nullptr);
    EXPECT_TRUE(window.PTTComPort->Connected());
    EXPECT_TRUE(window.PTT_Serial->isChecked());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_EQ(Lines(), 0);
    EXPECT_TRUE(TraceMessages(dir.file("KOTARPlus.Log")).contains("COM Port (" + FDevice + ") created"));
}
