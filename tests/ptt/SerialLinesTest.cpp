// Runs with the linesim library preloaded: LINESIM_DEVICE names a symlink that
// each test points at a fresh pseudo-terminal, LINESIM_LOG the line log.
#include "Pty.h"
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
    void SetUp() override
    {
        const QString device = qEnvironmentVariable("LINESIM_DEVICE");
        FLog = qEnvironmentVariable("LINESIM_LOG");
        ASSERT_FALSE(device.isEmpty());
        ASSERT_FALSE(FLog.isEmpty());
        // Masters stay open for the whole run, so every test gets a device
        // number the simulation has not seen.
        Ptys.push_back(std::make_unique<TPty>());
        QFile::remove(device);
        ASSERT_TRUE(QFile::link(Ptys.back()->Slave(), device));
        QFile::remove(FLog);
        FDevice = device;
    }

    // The changes logged since the last call, as "DTR 1" and so on.
    QStringList Changes()
    {
        QStringList changes;
        const QStringList lines = ReadText(FLog).split('\n', Qt::SkipEmptyParts);
        for (qsizetype i = FSeen; i < lines.size(); ++i)
            changes << lines[i].section(' ', 1);
        FSeen = lines.size();
        return changes;
    }

    // DTR and RTS as the simulation holds them; it answers for the device
    // whichever descriptor asks.
    int Lines()
    {
        const int fd = open(Ptys.back()->Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        int lines = -1;
        EXPECT_EQ(ioctl(fd, TIOCMGET, &lines), 0);
        close(fd);
        return lines & (TIOCM_DTR | TIOCM_RTS);
    }

    static inline std::vector<std::unique_ptr<TPty>> Ptys;
    QString FDevice;
    QString FLog;
    qsizetype FSeen = 0;
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
