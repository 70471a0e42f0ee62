#include "ptt/Cm108PttOutput.h"

#include "ptt/CPort.h"
#include "ptt/PttAdvice.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

TCm108PttOutput::TCm108PttOutput(QString name, QString devicePath, TPttPin pin)
    : FName(std::move(name)), FDevicePath(std::move(devicePath)), FPin(pin)
{
}

TCm108PttOutput::~TCm108PttOutput()
{
    if (FHandle >= 0)
        ::close(FHandle);
}

std::array<unsigned char, 5> TCm108PttOutput::Report(const TPttPin &pin, bool on)
{
    const auto bit = static_cast<unsigned char>(1u << (pin.Gpio - 1));
    return {0x00, 0x00, static_cast<unsigned char>(pin.Level(on) ? bit : 0), bit, 0x00};
}

void TCm108PttOutput::Open()
{
    if (FHandle >= 0)
        return;
    // Never blocking: a name that turns out to be a FIFO must not hang the program.
    FHandle = ::open(FDevicePath.toLocal8Bit().constData(), O_WRONLY | O_NOCTTY | O_CLOEXEC | O_NONBLOCK);
    if (FHandle < 0) {
        const int error = errno;
        throw EComPort(EComPort(1, error), PttFailureAdvice(error, FName, FDevicePath));
    }
    // The pin keeps whatever level it had; an active-low one may key.
    try {
        Write(false);
    } catch (...) {
        ::close(FHandle);
        FHandle = -1;
        throw;
    }
}

void TCm108PttOutput::Write(bool on)
{
    const auto report = Report(FPin, on);
    const ssize_t written = ::write(FHandle, report.data(), report.size());
    if (written == ssize_t(report.size()))
        return;
    const int error = written < 0 ? errno : EIO;
    // A card that is gone holds no pin up: nothing is left to release.
    if (error == ENODEV)
        FMayBeKeyed = false;
    throw EComPort(EComPort(2, error), PttFailureAdvice(error, FName, FDevicePath));
}

void TCm108PttOutput::Switch(bool on)
{
    if (on)
        FMayBeKeyed = true;
    Write(on);
    if (!on)
        FMayBeKeyed = false;
}
