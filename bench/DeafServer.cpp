#include "DeafServer.h"

#include <algorithm>
#include <stdexcept>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

TDeafServer::TDeafServer(const QString &path) : FPath(path.isEmpty() ? FDir.filePath("native") : path)
{
    const QByteArray name = FPath.toLocal8Bit();
    sockaddr_un address{};
    if (size_t(name.size()) >= sizeof address.sun_path)
        throw std::runtime_error("socket path too long");
    // A killed server leaves its socket behind.
    unlink(name.constData());
    FListener = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    address.sun_family = AF_UNIX;
    std::copy(name.begin(), name.end(), address.sun_path);
    if (bind(FListener, reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 || listen(FListener, 64) != 0)
        throw std::runtime_error("no socket at " + name.toStdString());
    if (path.isEmpty())
        qputenv("PULSE_SERVER", "unix:" + name);
}

TDeafServer::~TDeafServer()
{
    for (int connection : FTaken)
        close(connection);
    close(FListener);
    unlink(FPath.toLocal8Bit().constData());
}

bool TDeafServer::Take()
{
    for (int connection; (connection = accept(FListener, nullptr, nullptr)) >= 0;)
        FTaken.push_back(connection);
    return !FTaken.empty();
}
