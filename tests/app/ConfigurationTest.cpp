#include "FormPlayerFixture.h"
#include "RigctldFixture.h"

#include "support/TrackBar.h"

#include <QGroupBox>
#include <QRadioButton>
#include <gtest/gtest.h>

namespace {
QString Settings(const QString &lines) { return "[SETTINGS]\n" + lines; }

QString CheckedMode(const TFormPlayer &f)
{
    QStringList checked;
    if (f.PTT_Serial->isChecked())
        checked << "serial";
    if (f.PTT_Printer->isChecked())
        checked << "printer";
    if (f.PTT_OmniRig->isChecked())
        checked << "omnirig";
    if (f.PTT_None->isChecked())
        checked << "none";
    return checked.join(',');
}
} // namespace

TEST(Configuration, MissingFileGivesEveryDefault)
{
    StartedForm s;
    EXPECT_EQ(s.form->ConfigFileName, s.dir.file("KOTARPlus.INI"));
    // Serial mode on COM1, which names no device here: the port is reported
    // missing and the mode falls back to none.
    EXPECT_EQ(s.dialogs.messages,
              QStringList({"Defined COM Port not available\nCOM1: No such file or directory; COM1 is a Windows name: "
                           "choose the port in COM Settings (for example /dev/ttyUSB0, a /dev/serial/by-id name, or "
                           "CM108)"}));
    EXPECT_EQ(CheckedMode(*s.form), "none");
    EXPECT_EQ(s.form->ComPortName, "COM1");
    EXPECT_EQ(s.form->ConfigBaudRate, 4800);
    EXPECT_TRUE(s.form->TraceOn);
    EXPECT_EQ(s.form->CurrentDevice, -1);
    EXPECT_EQ(s.form->SquelchTrack->Position(), 10);
    EXPECT_EQ(s.form->TrackDelay->Position(), 0);
    EXPECT_FALSE(s.form->PTT_Printer->isEnabled());
}

TEST(Configuration, SectionAndKeyNamesIgnoreCase)
{
    StartedForm s("[settings]\ngain=7\n");
    EXPECT_EQ(s.form->SquelchTrack->Position(), 7);
}

TEST(Configuration, EmptyValuesAreNotDefaults)
{
    StartedForm s(Settings("GAIN=\nTRACE=\nPTT=\nDELAY=\nBAUDRATE=\nDEVICE=\n"));
    EXPECT_EQ(s.form->SquelchTrack->Position(), 10) << "empty GAIN fails the character test";
    EXPECT_FALSE(s.form->TraceOn);
    EXPECT_EQ(CheckedMode(*s.form), "");
    EXPECT_EQ(s.form->CurrentDevice, -1);
    EXPECT_EQ(s.form->ConfigBaudRate, 4800);
}

TEST(Configuration, PositionsAreClampedAndWrittenBackClamped)
{
    StartedForm s(Settings("GAIN=25\nDELAY=99999\n"));
    EXPECT_EQ(s.form->SquelchTrack->Position(), 10);
    EXPECT_EQ(s.form->TrackDelay->Position(), 5000);
    s.form->WriteINI();
    EXPECT_TRUE(ReadText(s.Ini()).contains("DELAY=5000\n"));
    StartedForm negative(Settings("DELAY=-5\n"));
    EXPECT_EQ(negative.form->TrackDelay->Position(), 0);
}

TEST(Configuration, NumbersThatPassTheFilterButAreNoWholeNumberTakeTheDefault)
{
    StartedForm s(Settings("GAIN=1.5\nDELAY=1,5\nBAUDRATE=-\nDEVICE=2x\n"));
    EXPECT_EQ(s.form->SquelchTrack->Position(), 10);
    EXPECT_EQ(s.form->TrackDelay->Position(), 0);
    EXPECT_EQ(s.form->ConfigBaudRate, 4800);
    EXPECT_EQ(s.form->CurrentDevice, -1);
    StartedForm device(Settings("DEVICE=3\nBAUDRATE=9600\n"));
    EXPECT_EQ(device.form->CurrentDevice, 3);
    EXPECT_EQ(device.form->ConfigBaudRate, 9600);
}

TEST(Configuration, PttWordsInAnyCase)
{
    TRigctldDaemon rig;
    StartedForm cat(Settings("PTT=cat\n") + "[OMNIRIG]\nRIG1=" + rig.Address() + "\nRIG2=127.0.0.1:1\n");
    EXPECT_EQ(CheckedMode(*cat.form), "omnirig");
    EXPECT_FALSE(cat.form->RigGroupBox->isHidden());
    cat.form->WriteINI();
    EXPECT_TRUE(ReadText(cat.Ini()).contains("PTT=CAT\n"));

    StartedForm printer(Settings("PTT=Printer\n"));
    EXPECT_EQ(CheckedMode(*printer.form), "printer");
    EXPECT_TRUE(printer.form->RigGroupBox->isHidden());

    StartedForm none(Settings("PTT=none\n"));
    EXPECT_EQ(CheckedMode(*none.form), "none");

    StartedForm unknown(Settings("PTT=VOX\n"));
    EXPECT_EQ(CheckedMode(*unknown.form), "");
    unknown.form->WriteINI();
    EXPECT_TRUE(ReadText(unknown.Ini()).contains("PTT=SERIAL\n"));
}

TEST(Configuration, TraceWordsAndTheirWrittenForm)
{
    for (const char *on : {"on", "true", "Yes"}) {
        StartedForm s(Settings(QString("TRACE=%1\n").arg(on)));
        EXPECT_TRUE(s.form->TraceOn) << on;
    }
    for (const char *off : {"1", "NO"}) {
        StartedForm s(Settings(QString("TRACE=%1\n").arg(off)));
        EXPECT_FALSE(s.form->TraceOn) << off;
        s.form->WriteINI();
        EXPECT_TRUE(ReadText(s.Ini()).contains("TRACE=NOT\n"));
    }
}

TEST(Configuration, ComPortNamesUpperCasedOnlyInTheComForm)
{
    StartedForm com(Settings("COMPORT=com3\n"));
    EXPECT_EQ(com.form->ComPortName, "COM3");
    EXPECT_TRUE(com.Trace().contains("PORTNRO=COM3"));
    StartedForm device(Settings("COMPORT=ttyUSB0\n"));
    EXPECT_EQ(device.form->ComPortName, "ttyUSB0");
}

TEST(Configuration, FirstRunWritesTheWholeFileInKeyOrder)
{
    StartedForm s;
    s.form->WriteINI();
    EXPECT_EQ(ReadText(s.Ini()), "[SETTINGS]\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\n"
                                 "TRACE=YES\nGAIN=10\nDELAY=0\nPTT=SERIAL\n")
        << "without COM1 the first start shows mode none, and the file keeps the mode for the port";
    EXPECT_TRUE(s.form->PTT_None->isChecked());
}

TEST(Configuration, WriteUpdatesAnExistingFileInPlace)
{
    const QString before = "; station\n[OMNIRIG]\nRIG1=127.0.0.1:4532\n\n[Settings]\nPTT=none\n; hang\n"
                           "Delay=300\nGain=4\nExtra=kept\n";
    StartedForm s(before);
    s.form->SquelchTrack->SetPosition(6);
    s.form->WriteINI();
    EXPECT_EQ(ReadText(s.Ini()), "; station\n[OMNIRIG]\nRIG1=127.0.0.1:4532\n\n[Settings]\nPTT=NONE\n; hang\n"
                                 "DELAY=300\nGAIN=6\nExtra=kept\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\n"
                                 "TRACE=YES\n");
}

// Lines the program does not own come back byte for byte whatever their
// encoding and line ends; its own keys are read from them and written in
// their line ends.
TEST(Configuration, WriteKeepsEveryByteItDoesNotOwn)
{
    struct {
        const char *name;
        QByteArray before, after;
    } const cases[] = {
        {"Latin-1 comment and value", "; K\xfc" "che\n[SETTINGS]\nPTT=NONE\nGAIN=4\n[OTHER]\nname=J\xf6rg\n",
         "; K\xfc" "che\n[SETTINGS]\nPTT=NONE\nGAIN=4\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\nDELAY=0\n"
         "[OTHER]\nname=J\xf6rg\n"},
        {"byte-order mark", "\xef\xbb\xbf[SETTINGS]\nGAIN=4\n",
         "\xef\xbb\xbf[SETTINGS]\nGAIN=4\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\nDELAY=0\nPTT=SERIAL\n"},
        {"CR alone", "[SETTINGS]\rPTT=NONE\rGAIN=4\r",
         "[SETTINGS]\rPTT=NONE\rGAIN=4\rCOMPORT=COM1\rBAUDRATE=4800\rDEVICE=-1\rTRACE=YES\rDELAY=0\r"},
        {"CR LF, no line end at the end", "[SETTINGS]\r\nGAIN=4\r\nDELAY=300",
         "[SETTINGS]\r\nGAIN=4\r\nDELAY=300\r\nCOMPORT=COM1\r\nBAUDRATE=4800\r\nDEVICE=-1\r\nTRACE=YES\r\nPTT=SERIAL"},
        {"numbers beyond 32 bits", "[SETTINGS]\nGAIN=-99999999999\nDELAY=99999999999\n",
         "[SETTINGS]\nGAIN=0\nDELAY=5000\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\nPTT=SERIAL\n"},
        {"numbers beyond 64 bits", "[SETTINGS]\nGAIN=-99999999999999999999\nDELAY=99999999999999999999\n",
         "[SETTINGS]\nGAIN=0\nDELAY=5000\nCOMPORT=COM1\nBAUDRATE=4800\nDEVICE=-1\nTRACE=YES\nPTT=SERIAL\n"},
    };
    for (const auto &c : cases) {
        QTemporaryDir elsewhere;
        const QString name = elsewhere.filePath("station.ini");
        WriteBytes(name, c.before);
        StartedForm s(QString(), {"-F", name});
        s.form->WriteINI();
        EXPECT_EQ(ReadBytes(name).toStdString(), c.after.toStdString()) << c.name;
    }
}

// LEAD is read like TIMEOUT: what cannot be used as written is reported once
// and kept in the file as the user wrote it.
TEST(Configuration, RelayKeysAreReadClampedReportedAndKeptAsWritten)
{
    struct {
        const char *keys;
        QString relay;
        int lead;
        const char *written; // the relay keys as written back
        QString report;
    } const cases[] = {
        {"", "", 60, "", ""},
        {"RELAY=radio_out\n", "radio_out", 60, "RELAY=radio_out\n", ""},
        {"RELAY=radio_out\nLEAD=5000\n", "radio_out", 1000, "RELAY=radio_out\nLEAD=5000\n",
         "LEAD value (5000) is outside 0 to 1000 ms: 1000 ms in use"},
        {"LEAD=-3\n", "", 0, "LEAD=-3\n", "LEAD value (-3) is outside 0 to 1000 ms: 0 ms in use"},
        {"LEAD=60.5\n", "", 60, "LEAD=60.5\n", "Unknown LEAD value (60.5): 60 ms in use"},
        {"LEAD=\n", "", 60, "LEAD=\n", "Unknown LEAD value (): 60 ms in use"},
    };
    for (const auto &c : cases) {
        StartedForm s(Settings(c.keys));
        EXPECT_EQ(s.form->RelayOutput, c.relay) << c.keys;
        EXPECT_EQ(s.form->RelayLead, c.lead) << c.keys;
        EXPECT_EQ(s.Trace().filter("LEAD").count(), c.report.isEmpty() ? 0 : 1) << c.keys;
        if (!c.report.isEmpty()) {
            EXPECT_TRUE(s.Trace().contains(c.report)) << c.keys;
        }
        s.form->WriteINI();
        QString relayKeys;
        for (const QString &line : ReadText(s.Ini()).split('\n'))
            if (line.startsWith("RELAY=") || line.startsWith("LEAD="))
                relayKeys += line + "\n";
        EXPECT_EQ(relayKeys, c.written) << c.keys;
    }
}
