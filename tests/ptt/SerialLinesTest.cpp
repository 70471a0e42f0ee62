// Runs with the linesim library preloaded: LINESIM_DEVICE names a symlink that
// each test points at a fresh pseudo-terminal, LINESIM_LOG the line log.
#include "LineSimPort.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "ptt/CPort.h"
#include "ptt/SerialPttOutput.h"

#include <QFile>
#include <QRadioButton>
#include <gtest/gtest.h>
#include <memory>
#include <sys/ioctl.h>
#include <termios.h>
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

// Each form of the PTT lines keys and releases exactly its lines at their
// levels; from the open on, every line rests at its idle level, and a line
// that rests high is not dropped by a hang-up on close.
TEST_F(SerialLines, PttLinesChooseLinesAndPolarity)
{
    const struct {
        const char *lines;
        QStringList open, on, off;
        int idle;
    } cases[] = {
        {"DTR+RTS", {"DTR 0", "RTS 0"}, {"DTR 1", "RTS 1"}, {"DTR 0", "RTS 0"}, 0},
        {"rts", {"DTR 0", "RTS 0"}, {"RTS 1"}, {"RTS 0"}, 0},
        {"!DTR", {"RTS 0"}, {"DTR 0"}, {"DTR 1"}, TIOCM_DTR},
        {"DTR+!RTS", {"DTR 0"}, {"DTR 1", "RTS 0"}, {"DTR 0", "RTS 1"}, TIOCM_RTS},
        {"RTS+DTR", {"DTR 0", "RTS 0"}, {"RTS 1", "DTR 1"}, {"RTS 0", "DTR 0"}, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        TLineSimPort fresh;
        TComPort port(nullptr);
        port.SetPort(fresh.Device());
        port.SetPttLines(TPttLines::Parse(c.lines).value());
        port.OpenPort();
        EXPECT_EQ(fresh.Changes(), c.open);
        EXPECT_EQ(fresh.Lines(), c.idle);

        TSerialPttOutput output(&port);
        output.Switch(true);
        EXPECT_EQ(fresh.Changes(), c.on);
        output.Switch(false);
        EXPECT_EQ(fresh.Changes(), c.off);
        // Settings applied again leave the lines at rest.
        port.SetBaudRate(br9600);
        EXPECT_EQ(fresh.Changes(), QStringList());
        EXPECT_EQ(fresh.Lines(), c.idle);

        termios tio{};
        const int fd = open(fresh.Device().toLocal8Bit().constData(), O_RDWR | O_NOCTTY);
        tcgetattr(fd, &tio);
        close(fd);
        EXPECT_EQ(bool(tio.c_cflag & HUPCL), c.idle == 0);

        // A port closed while keyed leaves its lines at rest.
        output.Switch(true);
        port.ClosePort();
        EXPECT_EQ(fresh.Lines(), c.idle);
    }
}

TEST_F(SerialLines, PttLinesTheSerialPortCannotKeyAreReportedOnceAndTheDefaultKeys)
{
    const struct {
        const char *lines;
        QString report;
    } cases[] = {
        {"DTR+CTS", "Unknown PTTLINES value (DTR+CTS): DTR+RTS in use"},
        {"GPIO9", "Unknown PTTLINES value (GPIO9): DTR+RTS in use"},
        {"GPIO3", "PTTLINES value (GPIO3) names a line that port " + FDevice + " does not have: DTR+RTS in use"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        TemporaryWorkDir dir;
        RecordedDialogs dialogs;
        WriteText(dir.file("KOTARPlus.INI"),
                  "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + FDevice + "\nPTTLINES=" + c.lines + "\n");
        TFormPlayer window{QStringList()};
        ASSERT_TRUE(window.PTTComPort->Connected());
        EXPECT_EQ(window.PTTComPort->PttLines().SerialPins(), TPttLines().SerialPins());
        const QStringList trace = TraceMessages(dir.file("KOTARPlus.Log"));
        EXPECT_EQ(trace.count(c.report), 1) << trace.join('\n').toStdString();
        Changes();
        window.TxRig(true);
        EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
        window.TxRig(false);
        EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));
    }
}

// A release is owed from the first line that moved: not after a keying whose
// first line could not be set (a pseudo-terminal outside the line driver has
// no modem lines), but after one whose second line was refused.
TEST_F(SerialLines, AReleaseIsOwedOnceALineMoved)
{
    TPty plain;
    for (const QString &device : {plain.Slave(), FDevice}) {
        TComPort port(nullptr);
        port.SetPort(device);
        port.OpenPort();
        TSerialPttOutput output(&port);
        qputenv("LINESIM_REFUSE", "RTS");
        EXPECT_THROW(output.Switch(true), EComPort);
        qunsetenv("LINESIM_REFUSE");
        EXPECT_EQ(output.MayBeKeyed(), device == FDevice) << device.toStdString();
    }
}
