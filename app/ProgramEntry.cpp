#include "app/ProgramEntry.h"

#include "app/ConfigFolder.h"
#include "station/RemoteClient.h"
#include "support/Exception.h"
#include "support/StandardError.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <cstdio>

std::optional<int> AnswerCommandLine(const TCommandLine &line, int argc, char *argv[])
{
    switch (line.Action) {
    case TCommandLine::caHelp:
        std::fputs(UsageText, stdout);
        return 0;
    case TCommandLine::caVersion:
        std::fputs(VersionText, stdout);
        return 0;
    case TCommandLine::caUsageError:
        std::fprintf(stderr, "%s: %s\n%s", QFileInfo(QString::fromLocal8Bit(argv[0])).fileName().toLocal8Bit().constData(),
                     line.Error.toLocal8Bit().constData(), UsageText);
        return 2;
    case TCommandLine::caRemote: {
        // Fast enough for a desktop hotkey: a core application, no sound, no settings file.
        QCoreApplication client(argc, argv);
        return RunRemoteCommand(line.Remote, WriteStandardError);
    }
    case TCommandLine::caRun:
        break;
    }
    if (line.ConfigFolder) {
        try {
            EnterConfigFolder();
        } catch (const Exception &error) {
            WriteStandardError(error.Message());
            return 1;
        }
    }
    return std::nullopt;
}
