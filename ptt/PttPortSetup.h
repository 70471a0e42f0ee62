#pragma once
#include "ptt/PttLines.h"

#include <QString>
#include <memory>

class QObject;
class TComPort;
class EComPort;
class TCm108PttOutput;

// The PTT port object for portName (4800 bits/s, DTR and RTS at rest, the
// given PTT lines), owned by owner; not opened.
TComPort *CreatePttPort(QObject *owner, const QString &portName, const TPttLines &lines);
// The GPIO output for a CM108 port name, opened: the name "CM108" finds the
// sound card being captured from (capturedCard, see ResolveCm108), any other
// CM108 name is the hidraw device. Raises EComPort.
std::shared_ptr<TCm108PttOutput> OpenCm108Output(const QString &portName, const TPttLines &lines,
                                                 const QString &sysfsRoot, const QString &capturedCard);
// What the system says about a port that failed to open and what to do: the
// line that follows "Defined COM Port not available"; empty when nothing is known.
QString PortFailureAdvice(const EComPort &failure, const QString &portName);

class TPttOutput;
// Where PTT goes, as the status line and remote control name it:
// "/dev/ttyUSB0 DTR+RTS", "CM108 /dev/hidraw0", "rigctld 127.0.0.1:4532", "none".
QString PttTargetText(const std::shared_ptr<TPttOutput> &output);
