#pragma once
#include <QString>

// A private-profile file: section and key names without regard to case, values
// trimmed and at most 2047 characters, a missing key gives the default and an
// empty one the empty text. A write replaces the value in place (or creates the
// file, section or key) and keeps everything else, line ends included; each
// write replaces the file atomically.
class TIniFile {
public:
    explicit TIniFile(QString fileName);

    const QString &FileName() const { return FFileName; }
    QString ReadString(const QString &section, const QString &key, const QString &defaultValue) const;
    // Raises "Unable to write to <file>" when the platform refuses.
    void WriteString(const QString &section, const QString &key, const QString &value);

private:
    QString FFileName;
};
