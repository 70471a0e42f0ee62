#include "app/ConfigFolder.h"

#include "support/Exception.h"

#include <QDir>
#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
QString HomeFolder()
{
    const QString home = qEnvironmentVariable("HOME");
    if (!home.isEmpty())
        return home;
    const passwd *entry = getpwuid(getuid());
    return entry ? QString::fromLocal8Bit(entry->pw_dir) : QString();
}

[[noreturn]] void Refuse(const QString &folder, int error)
{
    throw Exception("Cannot use the folder " + folder + ": " + QString::fromLocal8Bit(std::strerror(error)));
}
} // namespace

QString UserConfigFolder()
{
    const QString configHome = qEnvironmentVariable("XDG_CONFIG_HOME");
    // A relative value is invalid by the XDG rules and is ignored.
    const QString base = QDir::isAbsolutePath(configHome) ? configHome : HomeFolder() + "/.config";
    return QDir::cleanPath(base + "/kotarplus");
}

void EnterConfigFolder()
{
    const QString folder = UserConfigFolder();
    if (!QDir::isAbsolutePath(folder))
        throw Exception("Cannot use the folder " + folder + ": not an absolute path");
    // One level at a time, each new one with mode 0700 as the XDG rules ask.
    const QStringList parts = folder.split('/', Qt::SkipEmptyParts);
    QString path;
    for (const QString &part : parts) {
        path += "/" + part;
        if (::mkdir(QFile::encodeName(path).constData(), 0700) != 0 && errno != EEXIST)
            Refuse(path, errno);
    }
    if (::chdir(QFile::encodeName(folder).constData()) != 0)
        Refuse(folder, errno);
}
