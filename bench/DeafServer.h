#pragma once
#include <QString>
#include <QTemporaryDir>
#include <vector>

// A sound server that has gone deaf: a unix socket that takes connections and
// never answers.
class TDeafServer {
public:
    // At `path` (a server's socket, taken over once that server is gone); with
    // no path, in a folder of its own, and PULSE_SERVER names it.
    explicit TDeafServer(const QString &path = {});
    ~TDeafServer();
    TDeafServer(const TDeafServer &) = delete;
    TDeafServer &operator=(const TDeafServer &) = delete;

    // Takes what has come; true once any connection was taken.
    bool Take();

private:
    QTemporaryDir FDir;
    QString FPath;
    int FListener = -1;
    std::vector<int> FTaken;
};
