#pragma once
#include "ptt/PttLines.h"

#include <QString>
#include <QStringList>

class TIniFile;

// The SETTINGS section of the configuration file: read once at start-up,
// written whole at exit. The keys beyond the original set are written back as
// the file gives them while the setting in use is what they read as.
struct TSettings {
    // PTT as the file gives it, upper-cased: SERIAL, PRINTER, CAT or NONE;
    // any other word selects no mode.
    QString Ptt = "SERIAL";
    QString ComPort = "COM1";
    int BaudRate = 4800;
    bool TraceOn = true;
    int Device = -1;
    // DEVICENAME in use, and as read: written back only once it changed.
    QString DeviceName, DeviceNameRead;
    int Gain = 10;
    int Delay = 0;
    bool AttackByBlock = false;
    QString AttackText = "TICK";
    // Transmit time-out in seconds; 0: none.
    int TxTimeout = 0;
    QString TxTimeoutText = "0";
    // RELAY: the output the captured sound is relayed to; empty: none. LEAD:
    // how many ms PTT leads the relayed sound.
    QString RelayOutput;
    int RelayLead = 60;
    QString RelayLeadText = "60";
    TPttLines PttLines;
    // What the file holds that cannot be used as written, one line each, for
    // the trace and the standard error.
    QStringList Reports;
};

TSettings ReadSettings(const TIniFile &file);
// BAUDRATE is written as the PTT port opens: baudRate is its speed.
void WriteSettings(TIniFile &file, const TSettings &settings, int baudRate);
// The ten lines of the parameter block of the trace.
QStringList ParameterBlock(const TSettings &settings, const QString &configFileName);
// The file named after -F (joined to workDir unless absolute), else KOTARPlus.INI in workDir.
QString ConfigFileFromArguments(const QStringList &arguments, const QString &workDir);
