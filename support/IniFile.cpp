#include "support/IniFile.h"

#include "support/Exception.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStringList>

namespace {
constexpr int MaxValueLength = 2047;

struct Lines {
    QStringList text;
    QString lineEnd = "\n";
    bool endsWithLineEnd = true;
};

Lines Load(const QString &fileName)
{
    Lines lines;
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return lines;
    QString content = QString::fromUtf8(file.readAll());
    if (content.contains("\r\n"))
        lines.lineEnd = "\r\n";
    content.replace("\r\n", "\n");
    if (content.isEmpty())
        return lines;
    lines.endsWithLineEnd = content.endsWith('\n');
    if (lines.endsWithLineEnd)
        content.chop(1);
    lines.text = content.split('\n');
    return lines;
}

// The section a line opens, or a null text when it opens none.
QString SectionOf(const QString &line)
{
    const QString t = line.trimmed();
    if (t.startsWith('[')) {
        const qsizetype close = t.indexOf(']');
        if (close > 0)
            return t.mid(1, close - 1).trimmed();
    }
    return QString();
}

bool IsComment(const QString &line)
{
    const QString t = line.trimmed();
    return t.startsWith(';') || t.startsWith('#');
}

// Index of the key's line within the section, or -1; sectionEnd is set to the
// line after the section's last line, or -1 when the section is missing.
qsizetype FindKey(const QStringList &lines, const QString &section, const QString &key,
                  qsizetype &sectionEnd)
{
    sectionEnd = -1;
    bool inSection = false;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QString name = SectionOf(lines[i]);
        if (!name.isNull()) {
            if (inSection)
                return -1;
            inSection = name.compare(section, Qt::CaseInsensitive) == 0;
            if (inSection)
                sectionEnd = i + 1;
            continue;
        }
        if (!inSection || IsComment(lines[i]))
            continue;
        if (!lines[i].trimmed().isEmpty())
            sectionEnd = i + 1;
        const qsizetype eq = lines[i].indexOf('=');
        if (eq > 0 && lines[i].left(eq).trimmed().compare(key, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}
} // namespace

TIniFile::TIniFile(QString fileName) : FFileName(std::move(fileName)) {}

QString TIniFile::ReadString(const QString &section, const QString &key,
                             const QString &defaultValue) const
{
    const Lines lines = Load(FFileName);
    qsizetype sectionEnd;
    const qsizetype at = FindKey(lines.text, section, key, sectionEnd);
    if (at < 0)
        return defaultValue;
    const QString &line = lines.text[at];
    return line.mid(line.indexOf('=') + 1).trimmed().left(MaxValueLength);
}

void TIniFile::WriteString(const QString &section, const QString &key, const QString &value)
{
    const Exception refused(QStringLiteral("Unable to write to %1").arg(FFileName));
    const QFileInfo info(FFileName);
    // The atomic replace would succeed over a read-only file in a writable
    // folder (and root ignores the bits); a file marked read-only stays so.
    if (info.exists() && !(info.permissions() & QFileDevice::WriteOwner))
        throw refused;

    Lines lines = Load(FFileName);
    const QString entry = key + '=' + value;
    qsizetype sectionEnd;
    const qsizetype at = FindKey(lines.text, section, key, sectionEnd);
    if (at >= 0)
        lines.text[at] = entry;
    else if (sectionEnd >= 0)
        lines.text.insert(sectionEnd, entry);
    else
        lines.text << '[' + section + ']' << entry;

    QSaveFile file(FFileName);
    if (!file.open(QIODevice::WriteOnly))
        throw refused;
    QString content = lines.text.join(lines.lineEnd);
    if (lines.endsWithLineEnd)
        content += lines.lineEnd;
    file.write(content.toUtf8());
    if (!file.commit())
        throw refused;
}
