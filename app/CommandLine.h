#pragma once
#include <QString>
#include <QStringList>

// The command line as the program entry reads it before any window exists:
// --help, --version and --config-folder are answered or taken here, an
// unknown option beginning with "--" is refused; everything else (-F and its
// name, Qt's own options, any other argument) is passed on.
struct TCommandLine {
    enum TAction { caRun, caHelp, caVersion, caUnknownOption };
    TAction Action = caRun;
    bool ConfigFolder = false;  // work in the user's configuration folder
    QStringList Arguments;      // for the main window, without the program name
    QString Unknown;            // the refused option
};

// arguments: as given, without the program name.
TCommandLine ParseCommandLine(const QStringList &arguments);

extern const char UsageText[];
extern const char VersionText[];
