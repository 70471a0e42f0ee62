// The settings file through a run of the built program: what the user wrote,
// and what the user chose, is what the file holds afterwards.
#include "ProgramRun.h"
#include "TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

struct TSettingsRun {
    const char *name;
    // The files before the start.
    std::function<void(TProgramRun &)> prepare;
    // While the program runs.
    std::function<void(TProgramRun &)> during;
    // Once it has ended.
    std::function<void(TProgramRun &)> check;
};

QStringList Trace(const TProgramRun &run) { return TraceMessages(run.File("KOTARPlus.Log")); }

bool Keyed(const TProgramRun &run, double after)
{
    const std::vector<TLineChange> lines = run.Lines();
    bool dtr = false, rts = false;
    for (const TLineChange &change : lines)
        if (change.time > after)
            (change.line == "DTR" ? dtr : rts) = change.on;
    return dtr && rts;
}

// The time of the first change after a time that leaves both lines as given.
double BothAt(const TProgramRun &run, bool on, double after)
{
    bool dtr = !on, rts = !on;
    for (const TLineChange &change : run.Lines()) {
        if (change.time <= after)
            continue;
        (change.line == "DTR" ? dtr : rts) = change.on;
        if (dtr == on && rts == on)
            return change.time;
    }
    return -1;
}

QString Key(const TProgramRun &run, const QString &key)
{
    for (const QString &line : ReadText(run.File("KOTARPlus.INI")).split('\n'))
        if (line.startsWith(key + '='))
            return line.mid(key.size() + 1);
    return "(missing)";
}

} // namespace

TEST(SettingsFile, WhatTheUserWroteAndChoseOutlastsTheRun)
{
    const std::vector<TSettingsRun> runs{
        {"serial device lost mid-session and plugged back in",
         [](TProgramRun &run) {
             // Squelch 0 keys at every render tick while the capture runs.
             run.WriteIni("[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + run.PortLink() + "\nGAIN=0\nDELAY=0\n");
         },
         [](TProgramRun &run) {
             ASSERT_TRUE(WaitFor([&] { return Keyed(run, 0); }, 10000));
             run.Unplug();
             const QString port = "COM Port (" + run.PortLink() + ")";
             ASSERT_TRUE(WaitFor([&] { return Trace(run).contains(port + " lost"); }, 10000));
             const double back = MonotonicNow();
             run.Replug();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).contains(port + " reopened"); }, 10000))
                 << Trace(run).join('\n').toStdString();
             EXPECT_TRUE(WaitFor([&] { return Keyed(run, back); }, 10000)) << "PTT does not work again";
         },
         [](TProgramRun &run) { EXPECT_EQ(Key(run, "PTT"), "SERIAL"); }},

        // The adapter's folder goes with it and comes back; or the adapter is
        // back before the loss is noticed, so the watch starts with it there.
        {"serial device lost with its folder, and back before it was noticed",
         [](TProgramRun &run) {
             run.WriteIni("[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + run.PortLink() + "\nGAIN=0\nDELAY=0\n");
         },
         [](TProgramRun &run) {
             const QString reopened = "COM Port (" + run.PortLink() + ") reopened";
             ASSERT_TRUE(WaitFor([&] { return Keyed(run, 0); }, 10000));
             run.Unplug();
             QDir(run.File("by-id")).removeRecursively();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).contains("COM Port (" + run.PortLink() + ") lost"); }, 10000));
             QDir(run.Dir().path()).mkdir("by-id");
             run.Replug();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).count(reopened) == 1; }, 10000)) << "not reopened in its new folder";
             run.Unplug();
             run.Replug();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).count(reopened) == 2; }, 10000)) << "back before the loss was seen";
             // Back, but not yet to be opened: opened once it may be, with
             // no change of the folder to tell.
             run.Unplug();
             const int holder = run.ReplugBusy();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).count("COM Port (" + run.PortLink() + ") lost") == 3; }, 10000));
             close(holder);
             const double back = MonotonicNow();
             ASSERT_TRUE(WaitFor([&] { return Trace(run).count(reopened) == 3; }, 10000)) << "not opened once it could be";
             EXPECT_TRUE(WaitFor([&] { return Keyed(run, back); }, 10000));
         },
         [](TProgramRun &run) { EXPECT_EQ(Key(run, "PTT"), "SERIAL"); }},

        // DEVICENAME naming a source that is absent at start-up: kept, and
        // captured from once the source is loaded. (Its row goes here.)

        {"settings file is a link into a folder of station profiles",
         [](TProgramRun &run) {
             QDir(run.Dir().path()).mkdir("profiles");
             WriteText(run.File("profiles/station.ini"), "[SETTINGS]\nPTT=NONE\nCOMPORT=" + run.PortPath() + "\nGAIN=3\n");
             ASSERT_TRUE(QFile::link("profiles/station.ini", run.File("KOTARPlus.INI")));
         },
         {},
         [](TProgramRun &run) {
             EXPECT_EQ(QFileInfo(run.File("KOTARPlus.INI")).symLinkTarget(), run.File("profiles/station.ini"));
             EXPECT_EQ(ReadText(run.File("profiles/station.ini")).toStdString(),
                       ("[SETTINGS]\nPTT=NONE\nCOMPORT=" + run.PortPath()
                        + "\nGAIN=3\nBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\nDELAY=0\n")
                           .toStdString());
         }},

        {"lines ended by CR in an LF file, then an empty line",
         [](TProgramRun &run) {
             WriteBytes(run.File("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=" + run.PortPath().toUtf8()
                                                       + "\rGAIN=3\rDELAY=0\r\n[NOTES]\nkeep\r\n");
         },
         {},
         [](TProgramRun &run) {
             EXPECT_EQ(ReadBytes(run.File("KOTARPlus.INI")).toStdString(),
                       ("[SETTINGS]\nPTT=NONE\nCOMPORT=" + run.PortPath().toUtf8()
                        + "\rGAIN=3\rDELAY=0\rBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\n\n[NOTES]\nkeep\r\n")
                           .toStdString());
         }},

        {"TIMEOUT=2.5",
         [](TProgramRun &run) {
             run.WriteIni("[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + run.PortPath() + "\nGAIN=0\nDELAY=0\nTIMEOUT=2.5\n");
         },
         [](TProgramRun &run) {
             EXPECT_EQ(Trace(run).count("TIMEOUT value (2.5) is not a plain whole number of seconds: 3 in use"), 1);
             ASSERT_TRUE(WaitFor([&] { return BothAt(run, true, 0) > 0; }, 10000));
             const double keyed = BothAt(run, true, 0);
             ASSERT_TRUE(WaitFor([&] { return BothAt(run, false, keyed) > 0; }, 10000)) << "no time-out";
             EXPECT_GE(BothAt(run, false, keyed) - keyed, 2.9) << "the limit is rounded up";
         },
         [](TProgramRun &run) { EXPECT_EQ(Key(run, "TIMEOUT"), "2.5"); }},

        {"TIMEOUT=abc, ATTACK=FAST",
         [](TProgramRun &run) {
             run.WriteIni("[SETTINGS]\nPTT=NONE\nCOMPORT=" + run.PortPath() + "\nTIMEOUT=abc\nATTACK=FAST\n");
         },
         [](TProgramRun &run) {
             EXPECT_EQ(Trace(run).count("Unknown TIMEOUT value (abc): no time-out in use"), 1);
             EXPECT_EQ(Trace(run).count("Unknown ATTACK value (FAST): TICK in use"), 1);
         },
         [](TProgramRun &run) {
             EXPECT_EQ(Key(run, "TIMEOUT"), "abc");
             EXPECT_EQ(Key(run, "ATTACK"), "FAST");
         }},
    };
    for (const TSettingsRun &r : runs) {
        SCOPED_TRACE(r.name);
        TProgramRun run;
        r.prepare(run);
        run.Start();
        if (r.during)
            r.during(run);
        ASSERT_TRUE(run.Terminate());
        r.check(run);
    }
}
