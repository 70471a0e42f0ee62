#include "support/Exception.h"
#include "support/IniFile.h"

#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

TEST(IniFile, NamesMatchWithoutRegardToCaseAndValuesAreTrimmed)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("a.ini");
    WriteText(name, "[other]\ngain=1\n[settings]\n  gain =  7  \nempty=\n");
    const TIniFile ini(name);
    EXPECT_EQ(ini.ReadString("SETTINGS", "GAIN", "10"), "7");
    EXPECT_EQ(ini.ReadString("SETTINGS", "EMPTY", "10"), "") << "present but empty is not the default";
    EXPECT_EQ(ini.ReadString("SETTINGS", "DELAY", "0"), "0");
    EXPECT_EQ(ini.ReadString("OTHER", "Gain", "x"), "1");
    EXPECT_EQ(TIniFile(dir.filePath("missing.ini")).ReadString("SETTINGS", "GAIN", "10"), "10");
}

TEST(IniFile, LongValuesAreCutTo2047Characters)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("a.ini");
    WriteText(name, "[S]\nK=" + QString(3000, 'x') + "\n");
    EXPECT_EQ(TIniFile(name).ReadString("S", "K", "").size(), 2047);
}

TEST(IniFile, FirstWriteCreatesFileSectionAndKeysInOrder)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("new.ini");
    TIniFile ini(name);
    ini.WriteString("SETTINGS", "COMPORT", "COM1");
    ini.WriteString("SETTINGS", "BAUDRATE", "4800");
    EXPECT_EQ(ReadText(name), "[SETTINGS]\nCOMPORT=COM1\nBAUDRATE=4800\n");
}

TEST(IniFile, WriteReplacesInPlaceAndKeepsEverythingElse)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("keep.ini");
    WriteText(name, "; my radio\r\n[OmniRig]\r\nRIG1=x\r\n\r\n[Settings]\r\n; squelch\r\nGain=3\r\nOwn=1\r\n\r\n[Last]\r\nK=V\r\n");
    TIniFile ini(name);
    ini.WriteString("SETTINGS", "GAIN", "7");
    ini.WriteString("SETTINGS", "DELAY", "500");
    ini.WriteString("NEW", "A", "b");
    EXPECT_EQ(ReadText(name), "; my radio\r\n[OmniRig]\r\nRIG1=x\r\n\r\n[Settings]\r\n; squelch\r\nGAIN=7\r\nOwn=1\r\n"
                              "DELAY=500\r\n\r\n[Last]\r\nK=V\r\n[NEW]\r\nA=b\r\n");
}

TEST(IniFile, ARelativeLinkIsFollowedFromItsOwnFolderNotTheWorkingOne)
{
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkpath("conf") && QDir(dir.path()).mkpath("cwd"));
    ASSERT_EQ(::symlink("k.ini", QFile::encodeName(dir.filePath("conf/link.ini")).constData()), 0);
    const QString before = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(dir.filePath("cwd")));
    TIniFile(dir.filePath("conf/link.ini")).WriteString("S", "K", "V");
    QDir::setCurrent(before);
    EXPECT_EQ(ReadText(dir.filePath("conf/k.ini")), "[S]\nK=V\n");
    EXPECT_TRUE(QFileInfo(dir.filePath("conf/link.ini")).isSymLink());
    EXPECT_FALSE(QFile::exists(dir.filePath("cwd/k.ini")));
}

TEST(IniFile, WriteIntoMissingFolderRaisesUnableToWrite)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("no/such/dir/k.ini");
    TIniFile ini(name);
    try {
        ini.WriteString("SETTINGS", "GAIN", "1");
        FAIL() << "no error raised";
    } catch (const Exception &e) {
        EXPECT_EQ(e.Message(), "Unable to write to " + name);
    }
}

TEST(IniFile, WriteOverReadOnlyFileIsRefused)
{
    QTemporaryDir dir;
    const QString name = dir.filePath("ro.ini");
    WriteText(name, "[SETTINGS]\nGAIN=3\n");
    QFile::setPermissions(name, QFile::ReadOwner | QFile::ReadUser);
    TIniFile ini(name);
    EXPECT_THROW(ini.WriteString("SETTINGS", "GAIN", "1"), Exception);
    EXPECT_EQ(ReadText(name), "[SETTINGS]\nGAIN=3\n");
}
