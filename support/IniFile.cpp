#include "support/IniFile.h"

#include "support/Exception.h"
#include "support/PosixFile.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRandomGenerator>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {
constexpr int MaxValueLength = 2047;
const QByteArray ByteOrderMark("\xEF\xBB\xBF");

struct Line {
    QByteArray text;
    QByteArray end; // "\r\n", "\n", "\r", or empty on a last line without one
};

struct Content {
    TIniFile::TFileState state = TIniFile::fsMissing;
    mode_t mode = 0; // permission bits of the file read
    QByteArray byteOrderMark;
    std::vector<Line> lines;
};

// CR LF ends a line in a file whose first line ends so. Elsewhere it is a
// line ended by CR and an empty line ended by LF, so that keys inserted after
// the one come before the other, as before any other empty line.
std::vector<Line> SplitLines(const QByteArray &bytes)
{
    const qsizetype firstCr = bytes.indexOf('\r');
    const bool pairs = firstCr >= 0 && bytes.indexOf('\n') == firstCr + 1;
    std::vector<Line> lines;
    qsizetype start = 0;
    while (start < bytes.size()) {
        qsizetype end = start;
        while (end < bytes.size() && bytes[end] != '\n' && bytes[end] != '\r')
            ++end;
        qsizetype next = end;
        if (next < bytes.size())
            next += pairs && bytes[next] == '\r' && next + 1 < bytes.size() && bytes[next + 1] == '\n' ? 2 : 1;
        lines.push_back({bytes.mid(start, end - start), bytes.mid(end, next - end)});
        start = next;
    }
    return lines;
}

Content Load(const QString &fileName)
{
    Content content;
    // Without blocking: a FIFO or a device named here must not hold the
    // program; it is then found to be no regular file and left alone.
    TFileDescriptor file(::open(QFile::encodeName(fileName).constData(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
    if (file.Fd < 0) {
        content.state = errno == ENOENT || errno == ENOTDIR ? TIniFile::fsMissing : TIniFile::fsUnreadable;
        return content;
    }
    struct stat info {};
    if (fstat(file.Fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        content.state = TIniFile::fsUnreadable;
        return content;
    }
    content.mode = info.st_mode & 07777;
    QByteArray bytes;
    char buffer[65536];
    for (;;) {
        if (info.st_size > TIniFile::MaxFileSize || bytes.size() > TIniFile::MaxFileSize) {
            content.state = TIniFile::fsTooLarge;
            return content;
        }
        const ssize_t count = ::read(file.Fd, buffer, sizeof buffer);
        if (count == 0)
            break;
        if (count < 0 && errno != EINTR) {
            content.state = TIniFile::fsUnreadable;
            return content;
        }
        if (count > 0)
            bytes.append(buffer, count);
    }
    content.state = TIniFile::fsRead;
    if (bytes.startsWith(ByteOrderMark)) {
        content.byteOrderMark = ByteOrderMark;
        bytes.remove(0, ByteOrderMark.size());
    }
    content.lines = SplitLines(bytes);
    return content;
}

bool SameName(const QByteArray &name, const QString &wanted)
{
    return QString::fromUtf8(name.trimmed()).compare(wanted, Qt::CaseInsensitive) == 0;
}

// The section a line opens, or a null array when it opens none.
QByteArray SectionOf(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close > 0)
            return t.mid(1, close - 1);
    }
    return QByteArray();
}

bool IsComment(const QByteArray &line)
{
    const QByteArray t = line.trimmed();
    return t.startsWith(';') || t.startsWith('#');
}

// Index of the key's line within the section, or -1; sectionEnd is set to the
// line after the section's last line, or -1 when the section is missing.
qsizetype FindKey(const std::vector<Line> &lines, const QString &section, const QString &key, qsizetype &sectionEnd)
{
    sectionEnd = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < qsizetype(lines.size()); ++i) {
        const QByteArray &line = lines[size_t(i)].text;
        const QByteArray name = SectionOf(line);
        if (!name.isNull()) {
            if (inSection)
                return -1;
            inSection = SameName(name, section);
            if (inSection)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection || IsComment(line))
            continue;
        if (!line.trimmed().isEmpty())
            sectionEnd = i + 1;
        const qsizetype eq = line.indexOf('=');
        if (eq > 0 && SameName(line.left(eq), key))
            return i;
    }
    return -1;
}

// New lines end as the file's lines do; a line that had no end (the file's
// last) gets one when a line follows it.
void InsertLine(std::vector<Line> &lines, qsizetype at, const QByteArray &text)
{
    QByteArray lineEnd = "\n";
    for (const Line &line : lines)
        if (!line.end.isEmpty()) {
            lineEnd = line.end;
            break;
        }
    Line inserted{text, lineEnd};
    if (at == qsizetype(lines.size()) && at > 0 && lines.back().end.isEmpty()) {
        lines.back().end = lineEnd;
        inserted.end.clear();
    }
    lines.insert(lines.begin() + at, inserted);
}

QByteArray TemporaryName(const QByteArray &path)
{
    return path + '.' + QByteArray::number(QRandomGenerator::global()->generate(), 36) + ".tmp";
}

// The file a name stands for: a symbolic link is followed to the file it
// names, which may not exist yet; other names stand for themselves.
QString LinkedFile(const QString &fileName)
{
    QString path = fileName;
    for (int links = 0; links < 40; ++links) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            break;
        const QByteArray target = QFile::encodeName(path);
        char buffer[4096];
        const ssize_t length = ::readlink(target.constData(), buffer, sizeof buffer);
        if (length <= 0 || length >= ssize_t(sizeof buffer))
            break;
        const QString next = QFile::decodeName(QByteArray(buffer, length));
        path = QDir::isAbsolutePath(next) ? next : info.absolutePath() + '/' + next;
    }
    return path;
}

// Puts bytes in place of the file at path. The new content is written and
// synced to an unnamed file in the same folder, which gets a name only when
// whole and is then renamed over the old file: a crash or a full disk leaves
// either file whole, and no temporary file behind. Folders whose file system
// has no unnamed files get a named temporary file instead, which a crash while
// writing can leave. mode < 0: a new file.
bool ReplaceFile(const QString &fileName, const QByteArray &bytes, int mode)
{
    const QByteArray path = QFile::encodeName(fileName);
    const QByteArray folder = QFile::encodeName(QFileInfo(fileName).absolutePath());
    QByteArray temporary;
    TFileDescriptor file(::open(folder.constData(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666));
    if (file.Fd < 0 && (errno == EOPNOTSUPP || errno == EISDIR)) {
        temporary = path + ".XXXXXX";
        file.Fd = mkostemp(temporary.data(), O_CLOEXEC);
    }
    if (file.Fd < 0)
        return false;
    bool written = (mode < 0 || fchmod(file.Fd, mode_t(mode)) == 0) && WriteAll(file.Fd, bytes) && fsync(file.Fd) == 0;
    if (written && temporary.isEmpty()) {
        const QByteArray self = "/proc/self/fd/" + QByteArray::number(file.Fd);
        int linked;
        do {
            temporary = TemporaryName(path);
            linked = linkat(AT_FDCWD, self.constData(), AT_FDCWD, temporary.constData(), AT_SYMLINK_FOLLOW);
        } while (linked != 0 && errno == EEXIST);
        if (linked != 0) {
            temporary.clear();
            written = false;
        }
    }
    written = file.Close() && written && ::rename(temporary.constData(), path.constData()) == 0;
    if (!written && !temporary.isEmpty())
        ::unlink(temporary.constData());
    return written;
}
} // namespace

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {}

TIniFile::TFileState TIniFile::State() const { return Load(FFileName).state; }

QString TIniFile::ReadString(const QString &section, const QString &key, const QString &defaultValue) const
{
    const Content content = Load(FFileName);
    qsizetype sectionEnd;
    const qsizetype at = FindKey(content.lines, section, key, sectionEnd);
    if (at < 0)
        return defaultValue;
    const QByteArray &line = content.lines[size_t(at)].text;
    return QString::fromUtf8(line.mid(line.indexOf('=') + 1)).trimmed().left(MaxValueLength);
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    WriteStrings(section, {{key, value}});
}

void TIniFile::WriteStrings(const QString &section, const std::vector<TIniEntry> &entries)
{
    const Exception refused(QStringLiteral("Unable to write to %1").arg(FFileName));
    Content content = Load(FFileName);
    // A file not read whole would lose what it holds. The atomic replace would
    // succeed over a read-only file in a writable folder (and root ignores the
    // bits); a file marked read-only stays so.
    if (content.state == fsUnreadable || content.state == fsTooLarge
        || (content.state == fsRead && !(content.mode & S_IWUSR)))
        throw refused;

    for (const TIniEntry &entry : entries) {
        const QByteArray text = (entry.Key + '=' + entry.Value).toUtf8();
        qsizetype sectionEnd;
        const qsizetype at = FindKey(content.lines, section, entry.Key, sectionEnd);
        if (at >= 0)
            content.lines[size_t(at)].text = text;
        else if (entry.ReplaceOnly)
            continue;
        else if (sectionEnd >= 0)
            InsertLine(content.lines, sectionEnd, text);
        else {
            InsertLine(content.lines, qsizetype(content.lines.size()), '[' + section.toUtf8() + ']');
            InsertLine(content.lines, qsizetype(content.lines.size()), text);
        }
    }
    QByteArray bytes = content.byteOrderMark;
    for (const Line &line : content.lines)
        bytes += line.text + line.end;
    // Through a link to the file it names: the link stays, and the user's
    // file (a station profile kept elsewhere) gets the change.
    if (!ReplaceFile(LinkedFile(FFileName), bytes, content.state == fsRead ? int(content.mode) : -1))
        throw refused;
}
