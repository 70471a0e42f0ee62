#include "support/Log.h"

#include "TestSupport.h"

#include <QFile>
#include <gtest/gtest.h>

namespace {
TLog MakeLog(const QTemporaryDir &dir)
{
    TLog log;
    log.FileName = dir.filePath("KOTARPlus.Log");
    log.Level = 1;
    return log;
}
} // namespace

TEST(TraceLog, NewLogIsOffAndTouchesNoFile)
{
    TLog log;
    EXPECT_FALSE(log.Enabled);
    EXPECT_EQ(log.Level, 0u);
    EXPECT_TRUE(log.FileName.isEmpty());
}

TEST(TraceLog, EnableEmptiesTheFileAndLinesAppend)
{
    QTemporaryDir dir;
    TLog log = MakeLog(dir);
    WriteText(log.FileName, "old run\n");
    log.Enable(true);
    EXPECT_EQ(ReadText(log.FileName), "");
    log.Write(1, "first");
    log.Write(0, "");
    log.Write(2, "too detailed");
    EXPECT_EQ(TraceMessages(log.FileName), QStringList({"first", ""}));
    EXPECT_TRUE(ReadText(log.FileName).endsWith(" \n")) << "an empty text ends after the blank";
}

TEST(TraceLog, SwitchedOffLeavesTheFileAndWritesNothing)
{
    QTemporaryDir dir;
    TLog log = MakeLog(dir);
    log.Enable(true);
    log.Enable(false);
    log.Write(1, "dropped");
    EXPECT_TRUE(QFile::exists(log.FileName));
    EXPECT_EQ(ReadText(log.FileName), "");
}

TEST(TraceLog, DeletedFileIsCreatedAgainByTheNextLine)
{
    QTemporaryDir dir;
    TLog log = MakeLog(dir);
    log.Enable(true);
    log.Write(1, "one");
    QFile::remove(log.FileName);
    log.Write(1, "two");
    EXPECT_EQ(TraceMessages(log.FileName), QStringList({"two"}));
}

TEST(TraceLog, FileThatCannotBeCreatedSwitchesTheLogOff)
{
    QTemporaryDir dir;
    TLog log;
    log.FileName = dir.filePath("missing/KOTARPlus.Log");
    log.Level = 1;
    log.Enable(true);
    EXPECT_FALSE(log.Enabled);
}
