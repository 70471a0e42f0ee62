#include "Pty.h"
#include "RigctldFixture.h"
#include "SpawnedProcess.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "ptt/CPort.h"
#include "support/IniFile.h"

#include <QRadioButton>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/file.h>

namespace {
const QString Missing = "/dev/kotar-no-such-port";
// What the system says about it, and what to do.
const QString MissingAdvice = Missing + ": No such file or directory; no such device; plug it in or choose another port";

struct TStartedWindow {
    explicit TStartedWindow(const QString &ptt, const QString &port = Missing, const QString &more = QString())
    {
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=" + ptt + "\nCOMPORT=" + port + "\n" + more);
        window = std::make_unique<TFormPlayer>(QStringList());
    }
    QStringList Trace() const { return TraceMessages(dir.file("KOTARPlus.Log")); }

    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    std::unique_ptr<TFormPlayer> window;
};
} // namespace

TEST(SerialSetup, StartUpInSerialModeOnAMissingPortSelectsNone)
{
    TStartedWindow started("SERIAL");
    TFormPlayer &window = *started.window;
    ASSERT_NE(window.PTTComPort, nullptr);
    EXPECT_FALSE(window.PTTComPort->Connected());
    EXPECT_EQ(window.PTTComPort->Port(), Missing);
    EXPECT_EQ(window.PTTComPort->BaudRate(), br4800);
    EXPECT_EQ(window.PTTComPort->parent(), &window);
    EXPECT_EQ(started.dialogs.messages, QStringList({"Defined COM Port not available\n" + MissingAdvice}));
    EXPECT_TRUE(window.PTT_None->isChecked());
    const QStringList trace = started.Trace();
    // The specified line exactly; the port's own story on the next.
    const qsizetype failed = trace.indexOf("COM Port (" + Missing + ") creation failed");
    ASSERT_GE(failed, 0);
    EXPECT_EQ(trace.value(failed + 1), MissingAdvice);
    EXPECT_EQ(trace.value(failed + 2), "COM Port (" + Missing + ") created");
}

TEST(SerialSetup, StartUpInOtherModesCreatesThePortWithoutOpeningIt)
{
    TRigctldDaemon rig;
    for (const QString mode : {"CAT", "NONE"}) {
        TStartedWindow started(mode, Missing, "[OMNIRIG]\nRIG1=" + rig.Address() + "\n");
        TFormPlayer &window = *started.window;
        ASSERT_NE(window.PTTComPort, nullptr);
        EXPECT_FALSE(window.PTTComPort->Connected());
        EXPECT_TRUE(started.dialogs.messages.isEmpty()) << mode.toStdString();
        EXPECT_EQ(window.PTT_OmniRig->isChecked(), mode == "CAT");
        EXPECT_EQ(window.PTT_None->isChecked(), mode == "NONE");
        const QStringList trace = started.Trace();
        EXPECT_TRUE(trace.contains("COM Port (" + Missing + ") created"));
        EXPECT_FALSE(trace.join('\n').contains(") creation failed"));

        // Asking for the port later still reports a missing one.
        TComPort *port = window.SetupSerialPort(Missing);
        EXPECT_NE(port, window.PTTComPort);
        EXPECT_EQ(started.dialogs.messages, QStringList({"Defined COM Port not available\n" + MissingAdvice}));
        EXPECT_TRUE(window.PTT_None->isChecked());
        EXPECT_EQ(started.Trace().mid(trace.size()),
                  QStringList({"COM Port (" + Missing + ") creation failed", MissingAdvice,
                               "COM Port (" + Missing + ") created"}));
    }
}

TEST(SerialSetup, ConfigurationTakesNameAndSpeedFromThePort)
{
    TStartedWindow started("NONE", "ttyKOTAR9");
    TFormPlayer &window = *started.window;
    const QString ini = started.dir.file("KOTARPlus.INI");
    const auto written = [&](const QString &key) { return TIniFile(ini).ReadString("SETTINGS", key, "?"); };

    window.WriteINI();
    EXPECT_EQ(written("COMPORT"), "ttyKOTAR9");
    EXPECT_EQ(written("BAUDRATE"), "4800");

    window.PTTComPort->SetPort("/dev/ttyKOTAR3");
    const std::pair<TBaudRate, QString> table[] = {
        {br1200, "1200"}, {br2400, "2400"}, {br9600, "9600"},  {br19200, "19200"},
        {br14400, "4800"}, {br600, "4800"}, {br38400, "4800"}, {brCustom, "4800"},
    };
    for (const auto &[rate, text] : table) {
        window.PTTComPort->SetBaudRate(rate);
        window.WriteINI();
        EXPECT_EQ(written("BAUDRATE"), text);
    }
    EXPECT_EQ(written("COMPORT"), "/dev/ttyKOTAR3");

    window.PTTComPort = nullptr;
    window.WriteINI();
    EXPECT_EQ(written("COMPORT"), "ttyKOTAR9");
    EXPECT_EQ(written("BAUDRATE"), "4800");
}

TEST(SerialSetup, EachPortMessageNamesThePortAndWhatToDo)
{
    TPty busy;
    // Another program holds the port, as a terminal program does.
    TSpawnedProcess holder;
    holder.start("flock", {"--exclusive", busy.Slave(), "sleep", "60"});
    ASSERT_TRUE(holder.waitForStarted());
    const int probe = open(busy.Slave().toLocal8Bit().constData(), O_RDONLY | O_NOCTTY | O_CLOEXEC);
    bool locked = false;
    for (int i = 0; i < 500 && !locked; ++i) {
        locked = flock(probe, LOCK_EX | LOCK_NB) != 0;
        if (!locked) {
            flock(probe, LOCK_UN);
            QThread::msleep(20);
        }
    }
    close(probe);
    ASSERT_TRUE(locked) << "flock did not take the port";
    const struct {
        QString port;
        QString advice; // the message's second line and the trace line after the specified one
    } cases[] = {
        {Missing, MissingAdvice},
        {"ttyKOTAR9", "ttyKOTAR9 (/dev/ttyKOTAR9): No such file or directory; no such device; plug it in or choose another port"},
        {"COM3", "COM3: No such file or directory; COM3 is a Windows name: choose the port in COM Settings (for "
                 "example /dev/ttyUSB0, a /dev/serial/by-id name, or CM108)"},
        {busy.Slave(), busy.Slave() + ": Device or resource busy; in use by flock (process "
                           + QString::number(holder.processId()) + ")"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.port.toStdString());
        TStartedWindow started("SERIAL", c.port);
        ASSERT_FALSE(started.dialogs.messages.isEmpty());
        EXPECT_TRUE(started.dialogs.messages.last().startsWith("Defined COM Port not available\n" + c.advice))
            << started.dialogs.messages.last().toStdString();
        const QStringList trace = started.Trace();
        const qsizetype failed = trace.lastIndexOf("COM Port (" + c.port + ") creation failed");
        ASSERT_GE(failed, 0);
        EXPECT_TRUE(trace.value(failed + 1).startsWith(c.advice)) << trace.value(failed + 1).toStdString();
    }
    holder.kill();
    holder.waitForFinished();
}
