#include "ptt/ComDevice.h"

// termios2 (for rates beyond the B-constants) clashes with glibc's <termios.h>,
// so this file speaks to the tty driver with ioctl alone.
#include <asm/termbits.h>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <unistd.h>

TComDevice::~TComDevice()
{
    if (FHandle >= 0)
        Close();
}

QString TComDevice::DevicePath(const QString &name)
{
    return name.startsWith('/') ? name : "/dev/" + name;
}

namespace {
int LastError() { return errno ? errno : EIO; }

int SwitchLines(int handle, int lines, bool on)
{
    return ioctl(handle, on ? TIOCMBIS : TIOCMBIC, &lines) < 0 ? LastError() : 0;
}

// The B-constant of a standard rate, or 0 when the rate needs BOTHER.
tcflag_t StandardRate(uint32_t rate)
{
    static const struct {
        uint32_t rate;
        tcflag_t code;
    } table[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const auto &entry : table)
        if (entry.rate == rate)
            return entry.code;
    return 0;
}

// A device without modem lines (a pseudo-terminal) cannot follow the DTR and
// RTS control modes; that does not make its line settings fail.
bool NoModemLines(int error) { return error == ENOTTY || error == EINVAL; }
} // namespace

int TComDevice::Open(const QString &name)
{
    if (FHandle >= 0)
        return EBUSY;
    const QByteArray path = DevicePath(name).toLocal8Bit();
    const int handle = ::open(path.constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (handle < 0)
        return LastError();
    // TIOCEXCL turns away other users (and refuses what is no terminal);
    // the lock also turns away root, whom TIOCEXCL lets through.
    if (ioctl(handle, TIOCEXCL) < 0 || flock(handle, LOCK_EX | LOCK_NB) < 0) {
        // A lock held elsewhere reads "try again"; the truth is "busy".
        const int error = errno == EWOULDBLOCK ? EBUSY : LastError();
        ::close(handle);
        return error;
    }
    // The driver raises DTR and RTS on open; a keyed transmitter must not be
    // the first thing the port does.
    RestLines(handle);
    FHandle = handle;
    FCounters = ReadCounters(handle);
    return 0;
}

void TComDevice::RestLines(int handle) const
{
    if (FIdleHigh)
        SwitchLines(handle, FIdleHigh, true);
    if (const int idleLow = (TIOCM_DTR | TIOCM_RTS) & ~FIdleHigh)
        SwitchLines(handle, idleLow, false);
}

void TComDevice::SetIdleLevels(bool dtrHigh, bool rtsHigh)
{
    FIdleHigh = (dtrHigh ? TIOCM_DTR : 0) | (rtsHigh ? TIOCM_RTS : 0);
}

int TComDevice::Close()
{
    if (FHandle < 0)
        return EBADF;
    // A port closed while keyed is released: an active-low line is not hung
    // up by the kernel (that would key it), so it is put at rest here.
    RestLines(FHandle);
    ioctl(FHandle, TIOCNXCL);
    const int result = ::close(FHandle);
    // Linux releases the descriptor even when close reports an error.
    FHandle = -1;
    return result < 0 ? LastError() : 0;
}

int TComDevice::SetupComm(uint32_t, uint32_t)
{
    // The tty layer has no driver buffer sizes to set.
    return FHandle >= 0 ? 0 : EBADF;
}

int TComDevice::SetCommState(const TDCB &dcb)
{
    if (dcb.BaudRate == 0 || dcb.ByteSize < 5 || dcb.ByteSize > 8 || dcb.Parity > 4 || dcb.StopBits > 2)
        return EINVAL;
    struct termios2 tio {};
    if (ioctl(FHandle, TCGETS2, &tio) < 0)
        return LastError();

    tio.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | INPCK);
    tio.c_oflag &= ~OPOST;
    tio.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    tio.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS | CBAUD | (CBAUD << IBSHIFT));
    tio.c_cflag |= CREAD | CLOCAL;
    // Hanging up drops both lines, which releases a transmitter keyed high
    // but keys one keyed low: such a line is left at rest on close instead.
    if (FIdleHigh)
        tio.c_cflag &= ~HUPCL;
    else
        tio.c_cflag |= HUPCL;
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;

    static const tcflag_t sizes[] = {CS5, CS6, CS7, CS8};
    tio.c_cflag |= sizes[dcb.ByteSize - 5];
    if (dcb.StopBits != 0) // 1.5 stop bits do not exist here
        tio.c_cflag |= CSTOPB;
    switch (dcb.Parity) {
    case 1: tio.c_cflag |= PARENB | PARODD; break;
    case 2: tio.c_cflag |= PARENB; break;
    case 3: tio.c_cflag |= PARENB | CMSPAR | PARODD; break;
    case 4: tio.c_cflag |= PARENB | CMSPAR; break;
    default: break;
    }
    if (dcb.Flags & TDCB::fParity)
        tio.c_iflag |= INPCK;
    if ((dcb.Flags & TDCB::fOutxCtsFlow) && dcb.RtsControl() == 2)
        tio.c_cflag |= CRTSCTS;
    if (dcb.Flags & TDCB::fOutX)
        tio.c_iflag |= IXON;
    if (dcb.Flags & TDCB::fInX)
        tio.c_iflag |= IXOFF;
    tio.c_cc[VSTART] = cc_t(dcb.XonChar);
    tio.c_cc[VSTOP] = cc_t(dcb.XoffChar);

    // Input speed bits left at 0 mean "same as output".
    if (const tcflag_t code = StandardRate(dcb.BaudRate)) {
        tio.c_cflag |= code;
    } else {
        tio.c_cflag |= BOTHER;
        tio.c_ospeed = dcb.BaudRate;
        tio.c_ispeed = dcb.BaudRate;
    }
    if (ioctl(FHandle, TCSETS2, &tio) < 0)
        return LastError();

    // DTR and RTS follow their control modes: disable holds the idle level,
    // enable raises; handshake lines belong to the driver, and a toggled RTS
    // rests at its idle level.
    int error = 0;
    if (dcb.DtrControl() == 0 || dcb.DtrControl() == 1)
        error = SwitchLines(FHandle, TIOCM_DTR, dcb.DtrControl() == 1 || (FIdleHigh & TIOCM_DTR));
    if (!error || NoModemLines(error)) {
        const uint32_t rts = dcb.RtsControl();
        if (rts != 2)
            error = SwitchLines(FHandle, TIOCM_RTS, rts == 1 || (FIdleHigh & TIOCM_RTS));
    }
    return NoModemLines(error) ? 0 : error;
}

int TComDevice::SetCommTimeouts(const TCommTimeouts &)
{
    // The program never reads or writes data, so the timeouts are only kept.
    return FHandle >= 0 ? 0 : EBADF;
}

int TComDevice::EscapeCommFunction(int function)
{
    switch (function) {
    case SETDTR: return SwitchLines(FHandle, TIOCM_DTR, true);
    case CLRDTR: return SwitchLines(FHandle, TIOCM_DTR, false);
    case SETRTS: return SwitchLines(FHandle, TIOCM_RTS, true);
    case CLRRTS: return SwitchLines(FHandle, TIOCM_RTS, false);
    default: return EINVAL;
    }
}

int TComDevice::GetCommModemStatus(uint32_t &status)
{
    int lines = 0;
    if (ioctl(FHandle, TIOCMGET, &lines) < 0)
        return LastError();
    status = (lines & TIOCM_CTS ? MS_CTS_ON : 0u) | (lines & TIOCM_DSR ? MS_DSR_ON : 0u)
             | (lines & TIOCM_RI ? MS_RING_ON : 0u) | (lines & TIOCM_CD ? MS_RLSD_ON : 0u);
    return 0;
}

TLineCounters TComDevice::ReadCounters(int handle)
{
    TLineCounters counters;
    struct serial_icounter_struct icount {};
    if (ioctl(handle, TIOCGICOUNT, &icount) == 0) {
        counters.Known = true;
        counters.Frame = icount.frame;
        counters.Overrun = icount.overrun;
        counters.Parity = icount.parity;
        counters.Break = icount.brk;
        counters.BufferOverrun = icount.buf_overrun;
    }
    return counters;
}

int TComDevice::ClearCommError(uint32_t &errors, uint32_t &inQueue)
{
    int waiting = 0;
    if (ioctl(FHandle, FIONREAD, &waiting) < 0)
        return LastError();
    inQueue = uint32_t(waiting);
    errors = 0;
    const TLineCounters now = ReadCounters(FHandle);
    if (now.Known && FCounters.Known) {
        if (now.BufferOverrun != FCounters.BufferOverrun)
            errors |= CE_RXOVER;
        if (now.Overrun != FCounters.Overrun)
            errors |= CE_OVERRUN;
        if (now.Parity != FCounters.Parity)
            errors |= CE_RXPARITY;
        if (now.Frame != FCounters.Frame)
            errors |= CE_FRAME;
        if (now.Break != FCounters.Break)
            errors |= CE_BREAK;
    }
    FCounters = now;
    return 0;
}

int TComDevice::PurgeComm(uint32_t flags)
{
    if (FHandle < 0)
        return EBADF;
    const bool input = flags & PURGE_RXCLEAR, output = flags & PURGE_TXCLEAR;
    if (!input && !output) // nothing is ever pending to abort
        return 0;
    const int queue = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
    return ioctl(FHandle, TCFLSH, queue) < 0 ? LastError() : 0;
}

bool TComDevice::HungUp() const
{
    if (FHandle < 0)
        return false;
    pollfd entry{FHandle, 0, 0};
    return poll(&entry, 1, 0) > 0 && (entry.revents & (POLLHUP | POLLNVAL));
}
