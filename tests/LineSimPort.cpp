#include "LineSimPort.h"

#include "TestSupport.h"

#include <QFile>
#include <memory>
#include <stdexcept>
#include <sys/ioctl.h>
#include <vector>

namespace {
// Masters stay open for the whole run, so that no device number comes back.
std::vector<std::unique_ptr<TPty>> &Ptys()
{
    static std::vector<std::unique_ptr<TPty>> ptys;
    return ptys;
}

int OpenDevice(const QString &device) { return open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY); }
} // namespace

TLineSimPort::TLineSimPort()
    : FDevice(qEnvironmentVariable("LINESIM_DEVICE")), FLog(qEnvironmentVariable("LINESIM_LOG"))
{
    if (FDevice.isEmpty() || FLog.isEmpty())
        throw std::runtime_error("LINESIM_DEVICE and LINESIM_LOG must be set");
    Replug();
    QFile::remove(FLog);
}

void TLineSimPort::Replug()
{
    Ptys().push_back(std::make_unique<TPty>());
    FPty = Ptys().back().get();
    QFile::remove(FDevice);
    if (!QFile::link(Ptys().back()->Slave(), FDevice))
        throw std::runtime_error("cannot link the simulated device");
}

QStringList TLineSimPort::Changes()
{
    QStringList changes;
    const QStringList lines = ReadText(FLog).split('\n', Qt::SkipEmptyParts);
    for (qsizetype i = FSeen; i < lines.size(); ++i)
        changes << lines[i].section(' ', 1);
    FSeen = lines.size();
    return changes;
}

int TLineSimPort::Lines() const
{
    const int fd = OpenDevice(FDevice);
    int lines = 0;
    ioctl(fd, TIOCMGET, &lines);
    close(fd);
    return lines & (TIOCM_DTR | TIOCM_RTS);
}

void TLineSimPort::DropDtr()
{
    const int fd = OpenDevice(FDevice);
    const int dtr = TIOCM_DTR;
    ioctl(fd, TIOCMBIC, &dtr);
    close(fd);
    Changes();
}

void TLineSimPort::Unplug() { FPty->Hangup(); }
