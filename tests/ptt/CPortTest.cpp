#include "Pty.h"

#include "ptt/CPort.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QThread>
#include <gtest/gtest.h>
#include <cerrno>
#include <sys/ioctl.h>
#include <termios.h>

namespace {
// The kernel's marker for a rate outside the B-constants (not in glibc).
constexpr tcflag_t KernelBOTHER = 0010000;

termios DeviceSettings(const TPty &pty)
{
    // On a pseudo-terminal the master reads the slave's settings.
    termios tio {};
    EXPECT_EQ(tcgetattr(pty.Master(), &tio), 0);
    return tio;
}

template <class F> EComPort PortError(F &&action)
{
    try {
        action();
    } catch (const EComPort &error) {
        return error;
    }
    ADD_FAILURE() << "no port error raised";
    return EComPort(0, 0);
}

// Runs the event loop until the condition holds or two seconds have passed.
template <class F> bool ProcessEventsUntil(F &&condition)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < 2000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    return condition();
}

int Entries(const char *directory) { return int(QDir(directory).entryList(QDir::NoDotAndDotDot | QDir::AllEntries).size()); }

// Records which device calls the port makes, and makes them.
class TCountingDevice : public TComDevice {
public:
    explicit TCountingDevice(QStringList &calls) : FCalls(calls) {}
    int SetupComm(uint32_t in, uint32_t out) override
    {
        FCalls << "SetupComm";
        return TComDevice::SetupComm(in, out);
    }
    int SetCommState(const TDCB &dcb) override
    {
        FCalls << "SetCommState";
        return TComDevice::SetCommState(dcb);
    }
    int SetCommTimeouts(const TCommTimeouts &timeouts) override
    {
        FCalls << "SetCommTimeouts";
        return TComDevice::SetCommTimeouts(timeouts);
    }

private:
    QStringList &FCalls;
};
} // namespace

TEST(ComPortSettings, DefaultsAndThePTTLineRecord)
{
    TComPort port(nullptr);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "COM1");
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.CustomBaudRate(), 9600);
    EXPECT_EQ(port.SyncMethod(), smThreadSync);
    EXPECT_TRUE(port.TriggersOnRxChar());
    EXPECT_EQ(EventsToMask(port.Events()), 0x5FFu);
    EXPECT_EQ(port.Timeouts().ReadInterval(), -1);
    EXPECT_EQ(port.Timeouts().WriteTotalMultiplier(), 100);
    EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 1000);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);

    port.SetBaudRate(br4800);
    const TDCB dcb = port.LineSettings();
    EXPECT_EQ(dcb.BaudRate, 4800u);
    EXPECT_EQ(dcb.Flags, 1u);
    EXPECT_EQ(dcb.XonLim, 256);
    EXPECT_EQ(dcb.XoffLim, 256);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, 0);
    EXPECT_EQ(dcb.StopBits, 0);
    EXPECT_EQ(dcb.XonChar, 17);
    EXPECT_EQ(dcb.XoffChar, 19);

    port.Buffer().SetInputSize(1025);
    EXPECT_EQ(port.Buffer().InputSize(), 1024);
    EXPECT_EQ(port.LineSettings().XonLim, 256);
    port.Buffer().SetOutputSize(7);
    EXPECT_EQ(port.Buffer().OutputSize(), 6);

    port.FlowControl().SetControlDTR(dtrEnable);
    port.FlowControl().SetFlowControl(fcHardware);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
    EXPECT_TRUE(port.FlowControl().OutCTSFlow());
    EXPECT_EQ(port.FlowControl().ControlDTR(), dtrEnable);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);
    EXPECT_EQ(port.LineSettings().Flags, 1u | 4u | (1u << 4) | (2u << 12));
    port.FlowControl().SetXonXoffIn(true);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcCustom);
    port.FlowControl().SetFlowControl(fcSoftware);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
    EXPECT_FALSE(port.FlowControl().OutCTSFlow());
    EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);

    // A whole settings object is copied field by field.
    TComParity parity;
    parity.SetBits(prMark);
    parity.SetCheck(true);
    parity.SetReplace(true);
    port.SetParity(parity);
    EXPECT_EQ(port.Parity().Bits(), prMark);
    EXPECT_EQ(port.LineSettings().Flags & 0x402u, 0x402u);
}

TEST(ComPortErrors, MessagesCodesAndNumbers)
{
    EXPECT_EQ(ComErrorMessage(1), "Unable to open com port");
    EXPECT_EQ(ComErrorMessage(12), "EscapeCommFunction function failed");
    EXPECT_EQ(ComErrorMessage(24), "Port Not Open");

    TComPort port(nullptr);
    const EComPort withNumber = PortError([&] { port.RaisePortError(7, 22); });
    EXPECT_EQ(withNumber.Message(), "SetCommState function failed (Error: 22)");
    EXPECT_EQ(withNumber.Code(), 7);
    EXPECT_EQ(withNumber.SystemError(), 22);
    const EComPort without = PortError([&] { port.RaisePortError(5, 0); });
    EXPECT_EQ(without.Message(), "PurgeComm function failed");
    EXPECT_EQ(without.SystemError(), -1);

    EXPECT_EQ(TComDevice::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(TComDevice::DevicePath("/tmp/port"), "/tmp/port");
}

TEST(ComPortDevice, OpenAppliesTheLineSettings)
{
    TPty pty;
    TComPort port(nullptr);
    port.SetBaudRate(br4800);
    port.SetPort(pty.Slave());
    port.OpenPort();
    ASSERT_TRUE(port.Connected());
    termios tio = DeviceSettings(pty);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B4800));
    EXPECT_EQ(tio.c_cflag & CSIZE, tcflag_t(CS8));
    EXPECT_EQ(tio.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), 0u);
    EXPECT_EQ(tio.c_cflag & (CLOCAL | HUPCL), tcflag_t(CLOCAL | HUPCL));
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO), 0u);

    // Changes while open reach the device at once. (A pseudo-terminal keeps
    // itself at 8 bits without parity, so those two are not seen here.)
    port.SetStopBits(sbTwoStopBits);
    port.Parity().SetBits(prSpace);
    port.FlowControl().SetFlowControl(fcHardware);
    tio = DeviceSettings(pty);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), tcflag_t(CMSPAR | CSTOPB | CRTSCTS));
    port.Parity().SetBits(prOdd);
    EXPECT_EQ(DeviceSettings(pty).c_cflag & (PARODD | CMSPAR), tcflag_t(PARODD));
    port.Parity().SetBits(prEven);
    EXPECT_EQ(DeviceSettings(pty).c_cflag & (PARODD | CMSPAR), 0u);
    port.Parity().SetBits(prMark);
    port.FlowControl().SetFlowControl(fcSoftware);
    port.FlowControl().SetXonChar('A');
    port.SetBaudRate(br14400);
    tio = DeviceSettings(pty);
    EXPECT_EQ(tio.c_cflag & (PARODD | CMSPAR | CRTSCTS), tcflag_t(PARODD | CMSPAR));
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF), tcflag_t(IXON | IXOFF));
    EXPECT_EQ(tio.c_cc[VSTART], 'A');
    EXPECT_EQ(tio.c_cc[VSTOP], 19);
    EXPECT_EQ(tio.c_cflag & CBAUD, KernelBOTHER);

    port.ClosePort();
    EXPECT_FALSE(port.Connected());
}

TEST(ComPortDevice, OpenFailures)
{
    TPty pty;
    TComPort first(nullptr), second(nullptr);
    first.SetPort(pty.Slave());
    second.SetPort(pty.Slave());
    first.OpenPort();
    // The kernel's own exclusive mode, read back: root passes TIOCEXCL, so a
    // refused second opener alone proves nothing when tests run as root.
    const int other = open(pty.Slave().toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (other >= 0) {
        int exclusive = 0;
        EXPECT_EQ(ioctl(other, TIOCGEXCL, &exclusive), 0);
        EXPECT_EQ(exclusive, 1);
        close(other);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    const EComPort busy = PortError([&] { second.OpenPort(); });
    EXPECT_EQ(busy.Code(), 1);
    EXPECT_EQ(busy.SystemError(), EBUSY) << "a port held by another opener is busy, not 'try again'";
    EXPECT_FALSE(second.Connected());
    first.ClosePort();
    second.OpenPort();
    EXPECT_TRUE(second.Connected());

    TComPort missing(nullptr);
    missing.SetPort("/dev/kotar-no-such-port");
    const EComPort gone = PortError([&] { missing.OpenPort(); });
    EXPECT_EQ(gone.Code(), 1);
    EXPECT_EQ(gone.SystemError(), ENOENT);
    EXPECT_EQ(gone.Message(), QString("Unable to open com port (Error: %1)").arg(ENOENT));
    EXPECT_FALSE(missing.Connected());

    // An empty name is the bare device folder; a file that is no terminal is
    // refused too.
    missing.SetPort("");
    EXPECT_EQ(PortError([&] { missing.OpenPort(); }).Code(), 1);
    missing.SetPort("/dev/null");
    EXPECT_EQ(PortError([&] { missing.OpenPort(); }).SystemError(), ENOTTY);
}

TEST(ComPortDevice, LineSwitchingFailsWithoutModemLinesOrWhenClosed)
{
    TPty pty;
    TComPort port(nullptr);
    port.SetPort(pty.Slave());
    const EComPort closed = PortError([&] { port.SetDTRLine(true); });
    EXPECT_EQ(closed.Code(), 12);
    EXPECT_EQ(closed.SystemError(), EBADF);

    port.OpenPort();
    const EComPort noLines = PortError([&] { port.SetRTSLine(true); });
    EXPECT_EQ(noLines.Code(), 12);
    EXPECT_EQ(noLines.Message(), "EscapeCommFunction function failed (Error: 25)");
    EXPECT_EQ(PortError([&] { port.ReadModemSignals(); }).Code(), 11);
}

TEST(ComPortDevice, PropertyWritesWhileOpen)
{
    TPty pty, other;
    TComPort port(nullptr);
    port.SetPort(pty.Slave());
    port.OpenPort();

    const EComPort refused = PortError([&] { port.SetSyncMethod(smNone); });
    EXPECT_EQ(refused.Code(), 14);
    EXPECT_EQ(refused.Message(), "Cannot set property while connected");
    EXPECT_EQ(port.SyncMethod(), smThreadSync);

    // A new name reopens the port under it and lets the old device go.
    port.SetPort(other.Slave());
    EXPECT_TRUE(port.Connected());
    TComPort again(nullptr);
    again.SetPort(pty.Slave());
    again.OpenPort();

    const EComPort lost = PortError([&] { port.SetPort("/dev/kotar-no-such-port"); });
    EXPECT_EQ(lost.Code(), 1);
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "/dev/kotar-no-such-port");
}

TEST(ComPortDevice, BatchAppliesOnceAtTheOutermostEnd)
{
    TPty pty;
    QStringList calls;
    TComPort port(nullptr, std::make_unique<TCountingDevice>(calls));
    port.SetBaudRate(br4800);
    port.SetPort(pty.Slave());
    port.OpenPort();
    EXPECT_EQ(calls, QStringList({"SetupComm", "SetCommState", "SetCommTimeouts"}));
    calls.clear();

    port.BeginSettingsUpdate();
    port.BeginSettingsUpdate();
    port.SetBaudRate(br9600);
    port.SetStopBits(sbTwoStopBits);
    port.Buffer().SetInputSize(2048);
    port.Timeouts().SetReadInterval(10);
    port.EndSettingsUpdate();
    EXPECT_TRUE(calls.isEmpty());
    termios tio = DeviceSettings(pty);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B4800));

    port.EndSettingsUpdate();
    EXPECT_EQ(calls, QStringList({"SetupComm", "SetCommState", "SetCommTimeouts"}));
    tio = DeviceSettings(pty);
    EXPECT_EQ(cfgetospeed(&tio), speed_t(B9600));
    EXPECT_EQ(tio.c_cflag & CSTOPB, tcflag_t(CSTOPB));

    calls.clear();
    port.EndSettingsUpdate();
    EXPECT_TRUE(calls.isEmpty());
    // Writing an unchanged value sends nothing.
    port.SetBaudRate(br9600);
    port.Buffer().SetInputSize(2048);
    EXPECT_TRUE(calls.isEmpty());
}

TEST(ComPortMonitor, DeliversReceivedCharactersOnTheUserInterfaceThread)
{
    TPty pty;
    TComPort port(nullptr);
    port.SetPort(pty.Slave());
    int received = 0;
    bool onUserInterfaceThread = false;
    port.OnRxChar = [&](int count) {
        received = count;
        onUserInterfaceThread = QThread::currentThread() == QCoreApplication::instance()->thread();
    };
    port.OpenPort();
    ASSERT_EQ(write(pty.Master(), "abc", 3), 3);
    EXPECT_TRUE(ProcessEventsUntil([&] { return received == 3; }));
    EXPECT_TRUE(onUserInterfaceThread);

    // Closing from inside a delivery stops the monitor that waits for it.
    port.OnRxChar = [&](int) { port.ClosePort(); };
    ASSERT_EQ(write(pty.Master(), "d", 1), 1);
    EXPECT_TRUE(ProcessEventsUntil([&] { return !port.Connected(); }));
}

TEST(ComPortMonitor, CloseDropsDeliveriesStillQueued)
{
    TPty pty;
    TComPort port(nullptr);
    port.SetPort(pty.Slave());
    int deliveries = 0;
    port.OnRxChar = [&](int) { ++deliveries; };
    // Each close races the monitor's delivery of the byte just written; it
    // must end whether the delivery is queued, waiting or not yet made.
    for (int i = 0; i < 50; ++i) {
        port.OpenPort();
        ASSERT_EQ(write(pty.Master(), "x", 1), 1);
        port.ClosePort();
    }
    QCoreApplication::processEvents();
    EXPECT_EQ(deliveries, 0);
}

TEST(ComPortMonitor, ManyOpensLeaveNoThreadOrDescriptor)
{
    TPty pty;
    TComPort port(nullptr);
    port.SetPort(pty.Slave());
    const int threads = Entries("/proc/self/task");
    const int descriptors = Entries("/proc/self/fd");
    port.OpenPort();
    EXPECT_EQ(Entries("/proc/self/task"), threads + 1);
    port.ClosePort();
    for (int i = 0; i < 500; ++i) {
        port.OpenPort();
        port.ClosePort();
    }
    EXPECT_EQ(Entries("/proc/self/task"), threads);
    EXPECT_EQ(Entries("/proc/self/fd"), descriptors);

    // Without events to watch no monitor runs.
    port.SetEvents({});
    port.OpenPort();
    EXPECT_EQ(Entries("/proc/self/task"), threads);
    port.ClosePort();
}
