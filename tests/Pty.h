#pragma once
#include <QString>
#include <fcntl.h>
#include <stdexcept>
#include <stdlib.h>
#include <unistd.h>

// A pseudo-terminal pair; the port object opens the slave by its path.
class TPty {
public:
    TPty()
    {
        FMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
        if (FMaster < 0 || grantpt(FMaster) != 0 || unlockpt(FMaster) != 0)
            throw std::runtime_error("no pseudo-terminal");
        FSlave = QString::fromLocal8Bit(ptsname(FMaster));
    }
    ~TPty() { Hangup(); }
    TPty(const TPty &) = delete;
    TPty &operator=(const TPty &) = delete;

    int Master() const { return FMaster; }
    // Closes the master side: the kernel hangs the slave up, as it does a
    // device that is unplugged.
    void Hangup()
    {
        if (FMaster >= 0)
            close(FMaster);
        FMaster = -1;
    }
    const QString &Slave() const { return FSlave; }

private:
    int FMaster;
    QString FSlave;
};
