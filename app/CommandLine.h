#pragma once
#include "station/RemoteClient.h"

#include <QString>
#include <QStringList>

// The command line as the program entry reads it before any window exists:
// --help, --version, --config-folder and the remote-control options
// (--status, --mute and --tune, each with its value) are answered or taken
// here, an unknown option beginning with "--" or a wrong value is refused;
// everything else (-F and its name, Qt's own options, any other argument) is
// passed on.
struct TCommandLine {
    enum TAction { caRun, caHelp, caVersion, caUsageError, caRemote };
    TAction Action = caRun;
    bool ConfigFolder = false;  // work in the user's configuration folder
    QStringList Arguments;      // for the main window, without the program name
    QString Error;              // caUsageError: what is wrong, e.g. "unknown option --colour"
    TRemoteCommand Remote;      // caRemote: what to ask the running instance
};

// arguments: as given, without the program name.
TCommandLine ParseCommandLine(const QStringList &arguments);

// %1 stands for the program's name: kotarplus or kotarplusd.
extern const char UsageText[];
extern const char VersionText[];
