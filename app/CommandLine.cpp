#include "app/CommandLine.h"

const char UsageText[] =
    "Usage: %1 [--config-folder] [-F FILE] [Qt options]\n"
    "       %1 --status | --mute on|off|toggle | --tune on|off|toggle\n"
    "       %1 --help | --version\n"
    "\n"
    "Sound-card VOX controller: keys a transceiver's PTT while the recording level\n"
    "is at or above the squelch.\n"
    "\n"
    "  -F FILE          keep the settings in FILE instead of KOTARPlus.INI (-f too;\n"
    "                   a relative name is taken from the working directory)\n"
    "  --config-folder  work in $XDG_CONFIG_HOME/kotarplus (by default\n"
    "                   ~/.config/kotarplus), created when missing\n"
    "  --status         print the running instance's state, level and PTT target\n"
    "  --mute VALUE     switch the running instance's Mute on, off or over (toggle)\n"
    "  --tune VALUE     the same for Tune\n"
    "  -h, --help       print this text and exit\n"
    "  --version        print the version and exit\n"
    "\n"
    "Qt's own options (-platform NAME, -display NAME, -style NAME ...) are passed\n"
    "to Qt. A first argument other than -F, such as -FILE, means the default\n"
    "settings file.\n"
    "\n"
    "The settings file and the trace log KOTARPlus.Log are kept in the working\n"
    "directory. SIGINT, SIGTERM and SIGHUP release PTT, write the settings and end\n"
    "the program. More in kotarplus(1).\n";

const char VersionText[] = "KOTARPlus " KOTAR_VERSION "\n";

namespace {
// "--mute on" or "--mute=on": the option and the argument after it.
void TakeSwitch(TCommandLine &line, const QString &argument, const QString &next)
{
    const QString option = argument.section('=', 0, 0);
    const QString value = argument.contains('=') ? argument.section('=', 1) : next;
    // In the order of TRemoteCommand::TSwitch.
    const qsizetype index = QStringList{"on", "off", "toggle"}.indexOf(value);
    if (index < 0) {
        line.Action = TCommandLine::caUsageError;
        line.Error = option + " takes on, off or toggle" + (value.isEmpty() ? "" : ", not " + value);
        return;
    }
    line.Action = TCommandLine::caRemote;
    line.Remote = {option == "--mute" ? TRemoteCommand::rcMute : TRemoteCommand::rcTune,
                   TRemoteCommand::TSwitch(index)};
}
} // namespace

TCommandLine ParseCommandLine(const QStringList &arguments)
{
    TCommandLine line;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString &argument = arguments[i];
        if (argument.compare("-F", Qt::CaseInsensitive) == 0) {
            // The name that follows is the main window's, whatever it looks like.
            line.Arguments += arguments.mid(i, 2);
            ++i;
        } else if (argument == "--help" || argument == "-h") {
            line.Action = TCommandLine::caHelp;
            return line;
        } else if (argument == "--version") {
            line.Action = TCommandLine::caVersion;
            return line;
        } else if (argument == "--config-folder") {
            line.ConfigFolder = true;
        } else if (argument == "--status") {
            line.Action = TCommandLine::caRemote;
            return line;
        } else if (QStringList{"--mute", "--tune"}.contains(argument.section('=', 0, 0))) {
            TakeSwitch(line, argument, arguments.value(i + 1));
            return line;
        } else if (argument.startsWith("--") && argument.size() > 2) {
            line.Action = TCommandLine::caUsageError;
            line.Error = "unknown option " + argument;
            return line;
        } else {
            line.Arguments += argument;
        }
    }
    return line;
}
