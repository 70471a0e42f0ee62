#include "app/ProgramEntry.h"

#include "app/ConfigFolder.h"
#include "station/RemoteClient.h"
#include "support/Exception.h"
#include "support/StandardError.h"

#include <cerrno>
#include <cstdio>

std::optional<int> AnswerCommandLine(const TCommandLine &line)
{
    const auto usage = [] { return QString(UsageText).arg(program_invocation_short_name).toLocal8Bit(); };
    switch (line.Action) {
    case TCommandLine::caHelp:
        std::fputs(usage().constData(), stdout);
        return 0;
    case TCommandLine::caVersion:
        std::fputs(VersionText, stdout);
        return 0;
    case TCommandLine::caUsageError:
        WriteStandardError(line.Error);
        std::fputs(usage().constData(), stderr);
        return 2;
    case TCommandLine::caRemote:
        // Fast enough for a desktop hotkey: no event loop, sound or settings file.
        return RunRemoteCommand(line.Remote, WriteStandardError);
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
