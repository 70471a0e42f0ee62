#include "FormPlayerFixture.h"

#include "support/Application.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {
QStringList ParameterBlock(const StartedForm &s)
{
    const QStringList trace = s.Trace();
    const qsizetype start = trace.indexOf("--------------Parameters ----------------");
    return start < 0 ? QStringList() : trace.mid(start, 10);
}
} // namespace

TEST(CommandLine, SwitchInEitherCaseNamesTheFile)
{
    StartedForm lower(QString(), {"-f", "my.ini"});
    EXPECT_EQ(lower.form->ConfigFileName, lower.dir.file("my.ini")) << "names keep their case here";
    StartedForm upper(QString(), {"-F", "Other.INI"});
    EXPECT_EQ(upper.form->ConfigFileName, upper.dir.file("Other.INI"));
}

TEST(CommandLine, AnythingElseGivesTheDefaultFile)
{
    for (const QStringList &args : {QStringList{"-F"}, QStringList{"/F", "x.ini"}, QStringList{"-FILE", "x.ini"},
                                    QStringList{"-F", ""}, QStringList{}}) {
        StartedForm s(QString(), args);
        EXPECT_EQ(s.form->ConfigFileName, s.dir.file("KOTARPlus.INI")) << args.join(' ').toStdString();
    }
}

TEST(CommandLine, AbsoluteNameIsUsedAsGiven)
{
    QTemporaryDir elsewhere;
    const QString name = elsewhere.filePath("station.ini");
    WriteText(name, "[SETTINGS]\nGAIN=3\n");
    StartedForm s(QString(), {"-F", name});
    EXPECT_EQ(s.form->ConfigFileName, name);
    EXPECT_EQ(s.form->SquelchTrack->value(), 3);
}

TEST(StartUp, WorkDirEndsInOneSlash)
{
    StartedForm s;
    EXPECT_EQ(s.form->WorkDir, QDir::currentPath() + "/");
    const QString saved = QDir::currentPath();
    QDir::setCurrent("/");
    TFormPlayer root({});
    QDir::setCurrent(saved);
    EXPECT_EQ(root.WorkDir, "/");
}

TEST(StartUp, ParameterBlockForTheDefaults)
{
    StartedForm s;
    EXPECT_EQ(ParameterBlock(s), QStringList({
                                     "--------------Parameters ----------------",
                                     "Configuration File " + s.dir.file("KOTARPlus.INI"),
                                     "LOGGING=TRUE",
                                     "PORTNRO=COM1",
                                     "BAUD=4800",
                                     "GAIN=10",
                                     "DELAY=0",
                                     "DEVICE=-1",
                                     "CAT=SERIAL(COM1)",
                                     "-----------------------------------------",
                                 }));
}

TEST(StartUp, ParameterBlockNamesTheModeAndClampedValues)
{
    StartedForm printer("[SETTINGS]\nPTT=PRINTER\nBAUDRATE=9600\nGAIN=25\nDELAY=7000\nDEVICE=2\n");
    const QStringList block = ParameterBlock(printer);
    ASSERT_EQ(block.size(), 10);
    EXPECT_EQ(block.mid(4, 5), QStringList({"BAUD=9600", "GAIN=10", "DELAY=5000", "DEVICE=2", "CAT=PRINTER"}));
    for (const char *ptt : {"VOX", "NONE", "CAT"}) {
        StartedForm s(QString("[SETTINGS]\nPTT=%1\n").arg(ptt));
        EXPECT_EQ(ParameterBlock(s).value(8), "CAT=OMNIRIG") << ptt;
    }
}

TEST(StartUp, TraceOffLeavesAnEmptyLogFile)
{
    TemporaryWorkDir dir;
    WriteText(dir.file("KOTARPlus.Log"), "line of an earlier run\n");
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nTRACE=NOT\n");
    RecordedDialogs dialogs;
    TFormPlayer form({});
    EXPECT_TRUE(QFile::exists(dir.file("KOTARPlus.Log")));
    EXPECT_EQ(ReadText(dir.file("KOTARPlus.Log")), "");
}

TEST(StartUp, EachStartEmptiesTheLog)
{
    StartedForm first;
    first.form->TraceLog.Write(1, "first run only");
    first.form.reset();
    TFormPlayer second({});
    EXPECT_FALSE(first.Trace().contains("first run only"));
    EXPECT_EQ(first.Trace().value(0), "--------------Parameters ----------------");
}

TEST(StartUp, EndStateOfTheWindow)
{
    StartedForm s;
    EXPECT_EQ(s.form->windowTitle(), "KotarPlus 1.0");
    EXPECT_EQ(Application::Title(), "KOTARPlus");
    EXPECT_TRUE(s.form->TimerRender->IsActive());
    EXPECT_EQ(s.form->TimerRender->Interval(), 33);
    EXPECT_FALSE(s.form->KeyingState.Hanging);
    EXPECT_TRUE(s.form->TimerBlink->Enabled());
    EXPECT_TRUE(s.form->Rig1RadioButton->isChecked());
    EXPECT_EQ(s.Trace().last(), "CreateForm: Device(-1) configured");
}

TEST(Shutdown, CloseWritesTheConfiguration)
{
    StartedForm s("[SETTINGS]\nGAIN=4\n");
    s.form->TrackDelay->SetPosition(300);
    s.form->close();
    EXPECT_TRUE(ReadText(s.Ini()).contains("DELAY=300\n"));
    EXPECT_TRUE(s.dialogs.errors.isEmpty());
}

TEST(Shutdown, RefusedWriteIsReportedAndTheWindowStillCloses)
{
    StartedForm s(QString(), {"-F", "no/such/folder/k.ini"});
    s.form->show();
    s.form->close();
    EXPECT_FALSE(s.form->isVisible());
    EXPECT_EQ(s.dialogs.errors, QStringList({"KOTARPlus|Unable to write to " + s.dir.file("no/such/folder/k.ini") + "."}));
}

TEST(Shutdown, ExitCancelledChangesNothing)
{
    StartedForm s;
    s.dialogs.confirmAnswer = false;
    s.form->show();
    s.form->ExitClick();
    EXPECT_EQ(s.dialogs.questions, QStringList({"Warning!|Do you really want to exit?"}));
    EXPECT_TRUE(s.form->isVisible());
    EXPECT_FALSE(QFile::exists(s.Ini()));
    EXPECT_EQ(s.terminated, 0);
}

TEST(Shutdown, ExitConfirmedWritesClosesAndEnds)
{
    StartedForm s;
    s.form->show();
    s.form->ExitClick();
    EXPECT_FALSE(s.form->isVisible());
    EXPECT_TRUE(ReadText(s.Ini()).startsWith("[SETTINGS]\nCOMPORT="));
    EXPECT_EQ(s.terminated, 1);
}

TEST(Shutdown, ExitEndsEvenWhenTheConfigurationCannotBeWritten)
{
    StartedForm s(QString(), {"-F", "missing/k.ini"});
    s.form->show();
    s.form->ExitClick();
    EXPECT_EQ(s.terminated, 1);
    EXPECT_EQ(s.dialogs.errors, QStringList({"KOTARPlus|Unable to write to " + s.dir.file("missing/k.ini") + "."}))
        << "reported once, though written twice";
}
