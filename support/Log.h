#pragma once
#include <QString>
#include <cstdint>

// The trace log: one line per event, each on disk as soon as Write returns.
// Lines are "date time text" in the locale's short date and long time formats.
// The file is opened only as a regular file and never through a symbolic link
// (in a shared folder another user could aim the name at any file of ours);
// a name that is something else switches the log off for the run, with one
// line on the standard error.
class TLog {
public:
    QString FileName;
    bool Enabled = false;
    uint32_t Level = 0;

    // On: creates the file anew, empty; a file that cannot be created switches
    // the log off. Off: leaves the file alone.
    void Enable(bool on);
    // Appends a line when enabled and level <= Level; failures lose the line
    // silently.
    void Write(uint8_t level, const QString &text);

private:
    int Open(int flags);

    bool FRefused = false;
};
