#pragma once
#include <QString>
#include <cstdint>

// The serial device layer: the few serial services the port object uses, in the
// shape the port object was designed around (a DCB record, escape functions,
// modem status bits), carried out with POSIX termios and ioctl. Every call
// returns 0 or the errno of the failure.

// Line settings as a DCB record carries them.
struct TDCB {
    uint32_t BaudRate = 0;
    uint32_t Flags = 0; // bit layout below
    uint16_t XonLim = 0;
    uint16_t XoffLim = 0;
    uint8_t ByteSize = 8;
    uint8_t Parity = 0;   // 0 none, 1 odd, 2 even, 3 mark, 4 space
    uint8_t StopBits = 0; // 0 one, 1 one and a half, 2 two
    char XonChar = 0;
    char XoffChar = 0;
    char ErrorChar = 0;
    char EvtChar = 0;

    enum : uint32_t {
        fBinary = 1u << 0,
        fParity = 1u << 1,
        fOutxCtsFlow = 1u << 2,
        fOutxDsrFlow = 1u << 3,
        fDsrSensitivity = 1u << 6,
        fTXContinueOnXoff = 1u << 7,
        fOutX = 1u << 8,
        fInX = 1u << 9,
        fErrorChar = 1u << 10,
        fNull = 1u << 11,
    };
    static constexpr int DtrControlShift = 4;  // two bits
    static constexpr int RtsControlShift = 12; // two bits
    uint32_t DtrControl() const { return (Flags >> DtrControlShift) & 3; }
    uint32_t RtsControl() const { return (Flags >> RtsControlShift) & 3; }
};

struct TCommTimeouts {
    uint32_t ReadIntervalTimeout = 0;
    uint32_t ReadTotalTimeoutMultiplier = 0;
    uint32_t ReadTotalTimeoutConstant = 0;
    uint32_t WriteTotalTimeoutMultiplier = 0;
    uint32_t WriteTotalTimeoutConstant = 0;
};

// Escape functions and modem status bits as the port object knows them.
enum : int { SETRTS = 3, CLRRTS = 4, SETDTR = 5, CLRDTR = 6 };
enum : uint32_t { MS_CTS_ON = 0x10, MS_DSR_ON = 0x20, MS_RING_ON = 0x40, MS_RLSD_ON = 0x80 };
// Line event mask bits.
enum : uint32_t {
    EV_RXCHAR = 0x1,
    EV_RXFLAG = 0x2,
    EV_TXEMPTY = 0x4,
    EV_CTS = 0x8,
    EV_DSR = 0x10,
    EV_RLSD = 0x20,
    EV_BREAK = 0x40,
    EV_ERR = 0x80,
    EV_RING = 0x100,
    EV_RX80FULL = 0x400,
};
enum : uint32_t { PURGE_TXABORT = 1, PURGE_RXABORT = 2, PURGE_TXCLEAR = 4, PURGE_RXCLEAR = 8 };
enum : uint32_t { CE_RXOVER = 0x1, CE_OVERRUN = 0x2, CE_RXPARITY = 0x4, CE_FRAME = 0x8, CE_BREAK = 0x10 };

// Error counters of a device, for turning their growth into error flags.
struct TLineCounters {
    bool Known = false; // false: the device keeps none (pseudo-terminals)
    int Frame = 0, Overrun = 0, Parity = 0, Break = 0, BufferOverrun = 0;
};

class TComDevice {
public:
    virtual ~TComDevice();

    // A name starting with "/" is a path; any other name is under /dev.
    static QString DevicePath(const QString &name);

    // Opens exclusively: a second opener, in this process or another, fails.
    // DTR and RTS are brought to their idle levels at once.
    virtual int Open(const QString &name);
    // The levels DTR and RTS rest at: low unless the line keys low. A
    // disabled line control holds its line there.
    void SetIdleLevels(bool dtrHigh, bool rtsHigh);
    virtual int Close();
    bool IsOpen() const { return FHandle >= 0; }
    int Handle() const { return FHandle; }
    // The device went away under the open descriptor (unplugged, or the other
    // side of a pseudo-terminal closed): the kernel has hung it up.
    bool HungUp() const;

    virtual int SetupComm(uint32_t inputSize, uint32_t outputSize);
    virtual int SetCommState(const TDCB &dcb);
    virtual int SetCommTimeouts(const TCommTimeouts &timeouts);
    virtual int EscapeCommFunction(int function);
    virtual int GetCommModemStatus(uint32_t &status);
    // Error flags (CE_*) since the last call and the count of bytes waiting.
    virtual int ClearCommError(uint32_t &errors, uint32_t &inQueue);
    virtual int PurgeComm(uint32_t flags);

    // Counters read straight from the device; safe from the monitor thread.
    static TLineCounters ReadCounters(int handle);

private:
    // Every PTT line to its idle level.
    void RestLines(int handle) const;
    int FHandle = -1;
    TLineCounters FCounters;
    int FIdleHigh = 0; // TIOCM_DTR, TIOCM_RTS
};
