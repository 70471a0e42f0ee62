#pragma once
#include "ptt/CPort.h"

#include <QComboBox>
#include <QMetaObject>
#include <QString>
#include <QStringList>
#include <functional>

// Text forms of the port's setting values, as the setup lists show them. A text
// is read by comparing upper-cased ASCII letters; a text that names no value
// gives the value the port is most likely to accept.
QString BaudRateToStr(TBaudRate value);
QString DataBitsToStr(TDataBits value);
QString StopBitsToStr(TStopBits value);
QString ParityToStr(TParityBits value);
QString FlowControlToStr(TFlowControl value);
TBaudRate StrToBaudRate(const QString &text);     // otherwise br9600
TDataBits StrToDataBits(const QString &text);     // otherwise dbEight
TStopBits StrToStopBits(const QString &text);     // otherwise sbOneStopBit
TParityBits StrToParity(const QString &text);     // otherwise prNone
TFlowControl StrToFlowControl(const QString &text); // otherwise fcCustom

// The system's serial ports, as names the port object opens ("ttyUSB0"), in
// the platform's order. Tests replace it to offer ports of their own.
extern std::function<QStringList()> EnumerateSerialPorts;

// Replaces the list by the system's serial ports, sorted without regard to case
// (COM10 before COM2).
void ListSerialPorts(QStringList &list);

enum TComProperty { cpNone, cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl, cpPttLines };

// The working state of one setup list: which setting it edits, the port it is
// bound to (not owned) and the value chosen so far for that setting.
struct TComSelect {
    TComProperty ComProperty = cpNone;
    TCustomComPort *ComPort = nullptr;
    bool AutoApply = false;
    QString Port;
    TBaudRate BaudRate = brCustom;
    TDataBits DataBits = dbFive;
    TStopBits StopBits = sbOneStopBit;
    TParityBits Parity = prNone;
    TFlowControl FlowControl = fcHardware;
    TPttLines PttLines;

    // The entries of the list for the setting, in value order.
    QStringList Items() const;
    // The text of the bound port's current value of the setting.
    QString PortValueText() const;
    // The chosen value becomes the one the text names.
    void Choose(const QString &text);
    // Writes the chosen value into the bound port.
    void ApplyToPort();
};

// A selection-only list bound to one setting of a port object; the port list
// can also be typed into.
class TComComboBox : public QComboBox {
public:
    explicit TComComboBox(QWidget *parent = nullptr);

    TCustomComPort *ComPort() const { return FComSelect.ComPort; }
    void SetComPort(TCustomComPort *value);
    TComProperty ComProperty() const { return FComSelect.ComProperty; }
    void SetComProperty(TComProperty value);
    bool AutoApply() const { return FComSelect.AutoApply; }
    void SetAutoApply(bool value) { FComSelect.AutoApply = value; }
    // The selected entry's text, or empty text when nothing is selected.
    QString Text() const;
    // Selects the entry with this text; without one nothing changes.
    void SetText(const QString &value);
    const TComSelect &ComSelect() const { return FComSelect; }

    // Selects the bound port's current value and makes it the chosen one.
    void ShowPortValue();
    void ApplyToPort();

protected:
    // A port name wider than the box shows elided in the middle until the
    // user types or clicks into it; the tooltip holds the whole name.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The value an entry's text stands for (a port entry's name).
    QString ValueOf(const QString &text) const;
    void Fill();
    void UserChoice();
    void PortDestroyed();

    TComSelect FComSelect;
    QMetaObject::Connection FDestroyedConnection;
    // The user is typing into the port box: the edit shows its own text.
    bool FTyping = false;
};
