#pragma once
#include <QByteArray>

// A POSIX file descriptor closed with its owner; -1 when none.
class TFileDescriptor {
public:
    explicit TFileDescriptor(int fd) : Fd(fd) {}
    ~TFileDescriptor();
    TFileDescriptor(const TFileDescriptor &) = delete;
    TFileDescriptor &operator=(const TFileDescriptor &) = delete;

    // Closes now, so that a failure to close is seen.
    bool Close();

    int Fd;
};

// Writes every byte, across short writes and interruptions; false on the first
// failure (a full disk included).
bool WriteAll(int fd, const QByteArray &bytes);
