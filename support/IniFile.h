#pragma once
#include <QString>
#include <QtGlobal>
#include <vector>

// One key for TIniFile::WriteStrings.
struct TIniEntry {
    QString Key;
    QString Value;
    // Replaces the key where the file has it, and never adds it.
    bool ReplaceOnly = false;
};

// A private-profile file: section and key names without regard to case, values
// trimmed and at most 2047 characters, a missing key gives the default and an
// empty one the empty text. CR, LF and CR LF all end a line (CR LF only in a
// file whose first line ends so; elsewhere it is two line ends). A write replaces
// the value in place (or creates the file, section or key) and keeps every
// other byte: other lines whatever their encoding, their line ends, a
// byte-order mark. Each write replaces the file atomically, and only once the
// new content is on disk whole; a name that is a symbolic link keeps it, and
// the file it names is replaced.
class TIniFile {
public:
    // A settings file is small: a larger one is neither read nor replaced.
    static constexpr qint64 MaxFileSize = 1024 * 1024;
    // What reading the file finds. Unreadable covers every file that exists
    // but cannot be read whole, and every name that is no regular file.
    enum TFileState { fsMissing, fsRead, fsUnreadable, fsTooLarge };

    explicit TIniFile(QString fileName);

    const QString &FileName() const { return FFileName; }
    TFileState State() const;
    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Raises "Unable to write to <file>" when the platform refuses, when the
    // file could not be read (what it holds would be lost) and when the new
    // content does not reach the disk whole; the old file then stays.
    void WriteString(const QString &section, const QString &key, const QString &value);
    // Several keys of one section in one replacement of the file: all reach
    // the disk or none does. New keys are added in the order given.
    void WriteStrings(const QString &section, const std::vector<TIniEntry> &entries);

private:
    QString FFileName;
};
