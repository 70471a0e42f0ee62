#include "Pty.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "ptt/CPort.h"
#include "ptt/CPortCtl.h"
#include "ptt/CPortSetup.h"
#include "ptt/PttTestButton.h"
#include "support/Led1.h"
#include "support/ErrorReport.h"
#include "support/IniFile.h"

#include <QFileInfo>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTimer>
#include <QAbstractItemView>
#include <gtest/gtest.h>
#include <termios.h>

namespace {
// Records the device calls the port makes, and makes them.
class TRecordingDevice : public TComDevice {
public:
    explicit TRecordingDevice(QStringList &calls) : FCalls(calls) {}
    int Open(const QString &name) override
    {
        FCalls << "Open " + name;
        return TComDevice::Open(name);
    }
    int Close() override
    {
        FCalls << "Close";
        return TComDevice::Close();
    }
    int SetupComm(uint32_t in, uint32_t out) override
    {
        FCalls << "SetupComm";
        return TComDevice::SetupComm(in, out);
    }
    int SetCommState(const TDCB &dcb) override
    {
        FCalls << "SetCommState " + QString::number(dcb.BaudRate);
        return TComDevice::SetCommState(dcb);
    }
    int SetCommTimeouts(const TCommTimeouts &timeouts) override
    {
        FCalls << "SetCommTimeouts";
        return TComDevice::SetCommTimeouts(timeouts);
    }

private:
    QStringList &FCalls;
};

// Offers the given names as the system's serial ports while it lives.
class TListedPorts {
public:
    explicit TListedPorts(QStringList names) : FSaved(EnumerateSerialPorts)
    {
        EnumerateSerialPorts = [names] { return names; };
    }
    ~TListedPorts() { EnumerateSerialPorts = FSaved; }

private:
    std::function<QStringList()> FSaved;
};

// What a user does: pick the entry with this text.
void Pick(TComComboBox *combo, const QString &text)
{
    const int index = combo->findText(text);
    ASSERT_GE(index, 0) << text.toStdString();
    combo->setCurrentIndex(index);
    emit combo->activated(index);
}

QStringList Texts(const TComSetupFrm &form)
{
    QStringList texts;
    for (TComComboBox *combo : form.Combos())
        texts << combo->Text();
    return texts;
}

QStringList Items(const QComboBox *combo)
{
    QStringList items;
    for (int i = 0; i < combo->count(); ++i)
        items << combo->itemText(i);
    return items;
}

// Runs the port's setup dialog: the texts it opened with are recorded, the
// choices made, and OK or Cancel clicked from inside its modal loop.
QStringList RunDialog(TCustomComPort &port, const QStringList &choices, bool ok)
{
    QStringList shown;
    port.OnSetupDialogShow = [&](TComSetupFrm &form) {
        shown = Texts(form);
        QTimer::singleShot(0, &form, [&form, choices, ok] {
            for (int i = 0; i < choices.size(); ++i)
                if (!choices[i].isEmpty())
                    Pick(form.Combos()[size_t(i)], choices[i]);
            (ok ? form.Button1 : form.Button2)->click();
        });
    };
    port.OpenSetupDialog();
    port.OnSetupDialogShow = nullptr;
    return shown;
}

// Where Tab goes from a control; a combo box keeps helpers of its own in the
// focus chain that take no focus, and an editable one its line edit.
QWidget *NextTabStop(QWidget *from)
{
    QWidget *next = from->nextInFocusChain();
    while (next != from
           && (!(next->focusPolicy() & Qt::TabFocus) || next->isHidden() || next->parentWidget() == from))
        next = next->nextInFocusChain();
    return next;
}

speed_t Speed(const TPty &pty)
{
    termios tio {};
    EXPECT_EQ(tcgetattr(pty.Master(), &tio), 0);
    return cfgetospeed(&tio);
}

tcflag_t ControlFlags(const TPty &pty)
{
    termios tio {};
    EXPECT_EQ(tcgetattr(pty.Master(), &tio), 0);
    return tio.c_cflag;
}

// A PTT port as the program makes it, on a pseudo-terminal, with its device
// calls recorded.
struct TRecordedPort {
    TRecordedPort()
        : port(nullptr, std::make_unique<TRecordingDevice>(calls))
    {
        port.SetBaudRate(br4800);
        port.SetPort(first.Slave());
        port.OpenPort();
        calls.clear();
    }
    TPty first, second;
    QStringList calls;
    TComPort port;
};
} // namespace

TEST(ComSetupTexts, FormsAndParsing)
{
    EXPECT_EQ(BaudRateToStr(brCustom), "Custom");
    EXPECT_EQ(BaudRateToStr(br256000), "256000");
    EXPECT_EQ(StopBitsToStr(sbOne5StopBits), "1.5");
    EXPECT_EQ(FlowControlToStr(fcNone), "None");
    for (int rate = brCustom; rate <= br256000; ++rate)
        EXPECT_EQ(StrToBaudRate(BaudRateToStr(TBaudRate(rate))), rate);

    for (const char *text : {"none", "NONE", "None"})
        EXPECT_EQ(StrToParity(text), prNone) << text;
    EXPECT_EQ(StrToParity("sPACE"), prSpace);
    EXPECT_EQ(StrToParity("Nothing"), prNone);
    EXPECT_EQ(StrToBaudRate("12345"), br9600);
    EXPECT_EQ(StrToBaudRate("custom"), brCustom);
    EXPECT_EQ(StrToBaudRate(" 4800"), br9600);
    EXPECT_EQ(StrToDataBits("9"), dbEight);
    EXPECT_EQ(StrToDataBits("5"), dbFive);
    EXPECT_EQ(StrToStopBits("1.5"), sbOne5StopBits);
    EXPECT_EQ(StrToStopBits("3"), sbOneStopBit);
    EXPECT_EQ(StrToFlowControl("hardware"), fcHardware);
    EXPECT_EQ(StrToFlowControl("RTS/CTS"), fcCustom);
    // Only ASCII letters are folded: the long s upper-cases to S elsewhere.
    EXPECT_EQ(StrToFlowControl(QString::fromUtf8("\u017Foftware")), fcCustom);
    EXPECT_EQ(StrToParity(QString::fromUtf8("\u017Fpace")), prNone);
}

TEST(ComSetupPorts, SortedWithoutRegardToCase)
{
    {
        TListedPorts listed({"COM2", "COM10", "COM1", "com3"});
        QStringList list = {"stale"};
        ListSerialPorts(list);
        EXPECT_EQ(list, QStringList({"COM1", "COM10", "COM2", "com3"}));

        // The dialog's port list reads the system afresh; the default port
        // name COM1 is among them and selected.
        TComPort port(nullptr);
        TComSetupFrm form;
        form.Combo1->SetComPort(&port);
        EXPECT_EQ(Items(form.Combo1), QStringList({"COM1", "COM10", "COM2", "com3"}));
        EXPECT_EQ(form.Combo1->Text(), "COM1");
    }
    // The platform's own list: devices that exist (or "CM108", a sound card's).
    QStringList system;
    ListSerialPorts(system);
    for (const QString &name : system)
        EXPECT_TRUE(name == "CM108" || QFileInfo::exists(TComDevice::DevicePath(name))) << name.toStdString();
}

TEST(ComSetupList, BindingChoiceAndPortDestruction)
{
    TListedPorts listed({"ttyUSB1", "ttyUSB0"});
    TComComboBox box;
    EXPECT_EQ(box.count(), 0);
    EXPECT_EQ(box.Text(), "");
    box.SetComProperty(cpParity);
    EXPECT_EQ(Items(&box), QStringList({"None", "Odd", "Even", "Mark", "Space"}));
    EXPECT_EQ(box.Text(), "None");
    box.SetText("Mark");
    EXPECT_EQ(box.Text(), "Mark");
    box.SetText("Purple");
    EXPECT_EQ(box.Text(), "Mark");

    auto port = std::make_unique<TComPort>(nullptr);
    port->Parity().SetBits(prEven);
    box.SetComPort(port.get());
    EXPECT_EQ(box.Text(), "Even");
    EXPECT_EQ(box.ComSelect().Parity, prEven);

    // A choice is only the box's until applied, unless applied at once.
    Pick(&box, "Odd");
    EXPECT_EQ(box.ComSelect().Parity, prOdd);
    EXPECT_EQ(port->Parity().Bits(), prEven);
    box.ApplyToPort();
    EXPECT_EQ(port->Parity().Bits(), prOdd);
    box.SetAutoApply(true);
    Pick(&box, "Space");
    EXPECT_EQ(port->Parity().Bits(), prSpace);

    // Changing the setting refills the list and shows the port's value.
    box.SetComProperty(cpStopBits);
    EXPECT_EQ(Items(&box), QStringList({"1", "1.5", "2"}));
    EXPECT_EQ(box.Text(), "1");

    Pick(&box, "2");
    EXPECT_EQ(port->StopBits(), sbTwoStopBits);
    port.reset();
    EXPECT_EQ(box.ComPort(), nullptr);
    EXPECT_EQ(box.Text(), "1");
    box.ApplyToPort(); // unbound: nothing to write to

    // A port name the system does not list is offered as an extra entry.
    TComPort named(nullptr);
    named.SetPort("/dev/pts/kotar");
    TComComboBox ports;
    ports.SetComProperty(cpPort);
    EXPECT_EQ(ports.Text(), "ttyUSB0");
    ports.SetComPort(&named);
    EXPECT_EQ(Items(&ports), QStringList({"ttyUSB0", "ttyUSB1", "/dev/pts/kotar"}));
    EXPECT_EQ(ports.Text(), "/dev/pts/kotar");
    EXPECT_EQ(ports.ComSelect().Port, "/dev/pts/kotar");
}

TEST(ComSetupDialog, Layout)
{
    TListedPorts listed({});
    TComSetupFrm form;
    EXPECT_EQ(form.windowTitle(), "Setup");
    // The PTT lines list adds a row under the six.
    EXPECT_EQ(form.size(), QSize(231, 240));
    EXPECT_EQ(form.minimumSize(), form.maximumSize());
    EXPECT_EQ(form.GroupBox1->title(), " Settings ");
    EXPECT_EQ(form.GroupBox1->geometry(), QRect(8, 8, 217, 193));
    const TComProperty properties[] = {cpPort, cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl, cpPttLines};
    const int counts[] = {0, 16, 4, 3, 5, 4, 24};
    for (size_t i = 0; i < 7; ++i) {
        TComComboBox *combo = form.Combos()[i];
        EXPECT_EQ(combo->parentWidget(), form.GroupBox1);
        EXPECT_EQ(combo->geometry(), QRect(80, 16 + 24 * int(i), 129, 21));
        EXPECT_EQ(combo->ComProperty(), properties[i]);
        EXPECT_EQ(combo->count(), counts[i]);
        EXPECT_EQ(combo->isEditable(), i == 0); // a port may be typed
    }
    EXPECT_EQ(form.Combo1->Text(), "");
    EXPECT_EQ(form.Combo2->Text(), "Custom");
    QStringList labels;
    for (const QLabel *label : form.GroupBox1->findChildren<QLabel *>())
        labels << label->text() + "@" + QString::number(label->y());
    EXPECT_EQ(labels, QStringList({"Port@24", "Baud rate@48", "Data bits@72", "Stop bits@96", "Parity@120",
                                   "Flow control@144", "PTT lines@168"}));
    EXPECT_EQ(form.Button1->text(), "OK");
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_EQ(form.Button1->geometry(), QRect(70, 208, 75, 25));
    EXPECT_EQ(form.Button2->text(), "Cancel");
    EXPECT_EQ(form.Button2->geometry(), QRect(150, 208, 75, 25));
    QWidget *const tabOrder[] = {form.Combo1, form.Combo2, form.Combo3, form.Combo4,
                                 form.Combo5, form.Combo6, form.Combo7, form.Button1, form.Button2};
    for (size_t i = 1; i < std::size(tabOrder); ++i)
        EXPECT_EQ(NextTabStop(tabOrder[i - 1]), tabOrder[i]) << i;
}

// /dev/serial/by-id names are far wider than the box: the list shows them
// whole, the box's tooltip holds the whole name.
TEST(ComSetupDialog, LongPortNamesShowWhole)
{
    const QString name = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    TListedPorts listed({name});
    TComSetupFrm form;
    TComComboBox *box = form.Combo1;
    ASSERT_EQ(box->count(), 1);
    box->setCurrentIndex(0);
    EXPECT_EQ(box->toolTip(), name);
    EXPECT_GE(box->view()->minimumWidth(), box->fontMetrics().horizontalAdvance(box->itemText(0)));
    box->setEditText("/dev/ttyUSB7");
    EXPECT_EQ(box->toolTip(), "/dev/ttyUSB7");
}

TEST(ComSetupDialog, OkRenamesOnceThenAppliesInOneBatch)
{
    TRecordedPort recorded;
    TListedPorts listed({recorded.second.Slave()});
    TComPort &port = recorded.port;
    const QStringList shown = RunDialog(port, {recorded.second.Slave(), "9600", "7", "2", "Even", "Hardware", "!DTR"}, true);
    EXPECT_EQ(shown, QStringList({recorded.first.Slave(), "4800", "8", "1", "None", "None", "DTR+RTS"}));

    EXPECT_EQ(recorded.calls, QStringList({"Close", "Open " + recorded.second.Slave(), "SetupComm",
                                           "SetCommState 9600", "SetCommTimeouts"}));
    ASSERT_TRUE(port.Connected());
    EXPECT_EQ(port.Port(), recorded.second.Slave());
    EXPECT_EQ(port.BaudRate(), br9600);
    EXPECT_EQ(port.DataBits(), dbSeven);
    EXPECT_EQ(port.StopBits(), sbTwoStopBits);
    EXPECT_EQ(port.Parity().Bits(), prEven);
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
    EXPECT_TRUE(port.FlowControl().OutCTSFlow());
    EXPECT_EQ(port.PttLines().Text(), "!DTR");
    EXPECT_EQ(Speed(recorded.second), speed_t(B9600));
    EXPECT_EQ(ControlFlags(recorded.second) & (CRTSCTS | CSTOPB), tcflag_t(CRTSCTS | CSTOPB));

    // OK without a change still re-sends the settings, and nothing else.
    recorded.calls.clear();
    EXPECT_EQ(RunDialog(port, {}, true), QStringList({recorded.second.Slave(), "9600", "7", "2", "Even", "Hardware", "!DTR"}));
    EXPECT_EQ(recorded.calls, QStringList({"SetupComm", "SetCommState 9600", "SetCommTimeouts"}));
    EXPECT_EQ(port.Port(), recorded.second.Slave());

    // Custom leaves the individual flags as they are.
    port.FlowControl().SetXonXoffIn(true);
    RunDialog(port, {"", "", "", "", "", "Custom"}, true);
    EXPECT_TRUE(port.FlowControl().XonXoffIn());
    EXPECT_EQ(port.FlowControl().ControlRTS(), rtsHandshake);
}

TEST(ComSetupDialog, CancelAndCloseLeaveThePortUntouched)
{
    TRecordedPort recorded;
    TListedPorts listed({recorded.second.Slave()});
    TComPort &port = recorded.port;
    RunDialog(port, {recorded.second.Slave(), "19200", "5", "1.5", "Odd", "Software"}, false);
    EXPECT_TRUE(recorded.calls.isEmpty()) << recorded.calls.join(", ").toStdString();
    EXPECT_EQ(port.Port(), recorded.first.Slave());
    EXPECT_EQ(port.BaudRate(), br4800);
    EXPECT_EQ(port.DataBits(), dbEight);
    EXPECT_EQ(port.Parity().Bits(), prNone);
    EXPECT_EQ(port.FlowControl().FlowControl(), fcNone);

    port.OnSetupDialogShow = [](TComSetupFrm &form) {
        QTimer::singleShot(0, &form, [&form] {
            Pick(form.Combo2, "110");
            form.close();
        });
    };
    port.OpenSetupDialog();
    EXPECT_TRUE(recorded.calls.isEmpty());
    EXPECT_EQ(port.BaudRate(), br4800);
}

TEST(ComSetupDialog, AFailedRenameReachesTheCallerAndEndsTheBatch)
{
    TRecordedPort recorded;
    TListedPorts listed({"kotar-no-such-port"});
    TComPort &port = recorded.port;
    try {
        RunDialog(port, {"kotar-no-such-port", "19200"}, true);
        ADD_FAILURE() << "no error";
    } catch (const EComPort &error) {
        EXPECT_EQ(error.Code(), 1);
    }
    EXPECT_FALSE(port.Connected());
    EXPECT_EQ(port.Port(), "kotar-no-such-port");
    EXPECT_EQ(port.BaudRate(), br4800); // the lists after the port are not applied

    // The batch was closed: settings reach the device again once it is open.
    port.SetPort(recorded.first.Slave());
    port.OpenPort();
    port.SetBaudRate(br19200);
    EXPECT_EQ(Speed(recorded.first), speed_t(B19200));
}

namespace {
struct TStartedWindow {
    explicit TStartedWindow(const QString &port)
    {
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + port + "\n");
        window = std::make_unique<TFormPlayer>(QStringList());
        // A pseudo-terminal has no modem lines: start-up's PTT off on it is
        // reported. That report is not what these tests look at.
        dialogs.errors.clear();
    }
    QString Written(const QString &key) const
    {
        return TIniFile(dir.file("KOTARPlus.INI")).ReadString("SETTINGS", key, "?");
    }

    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    std::unique_ptr<TFormPlayer> window;
};
} // namespace

TEST(ComSettingsCommand, CancelledStillWritesTheConfiguration)
{
    TPty pty;
    TListedPorts listed({});
    TStartedWindow started(pty.Slave());
    TFormPlayer &window = *started.window;
    ASSERT_TRUE(window.PTTComPort->Connected());
    EXPECT_EQ(started.Written("GAIN"), "?");

    QStringList shown;
    window.PTTComPort->OnSetupDialogShow = [&](TComSetupFrm &form) {
        shown = Texts(form);
        QTimer::singleShot(0, &form, [&form] {
            Pick(form.Combo2, "19200");
            form.Button2->click();
        });
    };
    window.CommSettingsButtonClick();
    EXPECT_EQ(shown, QStringList({pty.Slave(), "4800", "8", "1", "None", "None", "DTR+RTS"}));
    EXPECT_EQ(window.PTTComPort->BaudRate(), br4800);
    EXPECT_EQ(started.Written("GAIN"), "10");
    EXPECT_EQ(started.Written("COMPORT"), pty.Slave());
    EXPECT_EQ(started.Written("BAUDRATE"), "4800");
}

TEST(ComSettingsCommand, ConfirmedTakesTheNewPortName)
{
    TPty first, second;
    TListedPorts listed({second.Slave()});
    TStartedWindow started(first.Slave());
    TFormPlayer &window = *started.window;
    window.PTTComPort->OnSetupDialogShow = [&](TComSetupFrm &form) {
        QTimer::singleShot(0, &form, [&] {
            Pick(form.Combo1, second.Slave());
            Pick(form.Combo2, "9600");
            form.Button1->click();
        });
    };
    window.CommSettingsButtonClick();
    EXPECT_TRUE(window.PTTComPort->Connected());
    EXPECT_EQ(window.ComPortName, second.Slave());
    EXPECT_EQ(started.Written("COMPORT"), second.Slave());
    EXPECT_EQ(started.Written("BAUDRATE"), "9600");
    EXPECT_EQ(Speed(second), speed_t(B9600));
}

// A by-id link is shown by its id and stands for its path; a typed name is
// kept as typed; a CM108 name moves PTT from the serial lines to the GPIO
// (a plain file named like a hidraw device records the reports written).
TEST(ComSettingsCommand, PortsAreKeptAsGivenAndACm108NameKeysItsGpio)
{
    TPty pty;
    const QString byId = "/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0";
    TListedPorts listed({byId, pty.Slave()});
    TStartedWindow started(pty.Slave());
    TFormPlayer &window = *started.window;
    const QString gpio = started.dir.file("hidraw3");
    WriteBytes(gpio, QByteArray());
    QString chosenById;
    window.PTTComPort->OnSetupDialogShow = [&](TComSetupFrm &form) {
        QTimer::singleShot(0, &form, [&] {
            Pick(form.Combo1, "usb-FTDI_FT232R_A1-if00-port0");
            chosenById = form.Combo1->ComSelect().Port;
            form.Combo1->setEditText(gpio);
            Pick(form.Combo7, "!GPIO2");
            form.Button1->click();
        });
    };
    window.CommSettingsButtonClick();
    EXPECT_EQ(chosenById, byId);
    EXPECT_TRUE(started.dialogs.messages.isEmpty());
    EXPECT_FALSE(window.PTTComPort->Connected());
    EXPECT_EQ(started.Written("COMPORT"), gpio);
    EXPECT_EQ(started.Written("PTTLINES"), "!GPIO2");
    const QByteArray idle("\0\0\x02\x02\0", 5), keyed("\0\0\0\x02\0", 5);
    window.TxRig(true);
    EXPECT_EQ(ReadBytes(gpio), idle + keyed);
}

TEST(ComSettingsCommand, AFailedPortReachesTheReport)
{
    TPty pty;
    TListedPorts listed({"kotar-no-such-port"});
    TStartedWindow started(pty.Slave());
    TFormPlayer &window = *started.window;
    window.PTTComPort->OnSetupDialogShow = [](TComSetupFrm &form) {
        QTimer::singleShot(0, &form, [&form] {
            Pick(form.Combo1, "kotar-no-such-port");
            form.Button1->click();
        });
    };
    ErrorReport::Guarded([&] { window.CommSettingsButtonClick(); });
    ASSERT_EQ(started.dialogs.errors.size(), 1);
    EXPECT_TRUE(started.dialogs.errors[0].endsWith(QString("|Unable to open com port (Error: %1)").arg(ENOENT)))
        << started.dialogs.errors[0].toStdString();
    EXPECT_FALSE(window.PTTComPort->Connected());
    // The handler ended there: the configured name and file are the old ones.
    EXPECT_EQ(window.ComPortName, pty.Slave());
    EXPECT_EQ(started.Written("GAIN"), "?");
}

TEST(ComSettingsCommand, TestPttOnAPortWithoutModemLinesSaysWhyInTheDialogAndOwesNothing)
{
    TPty pty;
    TListedPorts listed({});
    TStartedWindow started(pty.Slave());
    QString words;
    started.window->PTTComPort->OnSetupDialogShow = [&](TComSetupFrm &form) {
        QTimer::singleShot(0, &form, [&] {
            emit form.TestButton->pressed();
            words = form.TestButton->Words->text();
            EXPECT_FALSE(form.TestButton->Lamp->On());
            form.Button2->click();
        });
    };
    started.window->CommSettingsButtonClick();
    EXPECT_TRUE(words.startsWith("EscapeCommFunction function failed")) << words.toStdString();
    EXPECT_FALSE(started.window->KeyingState.ReleaseOwed);
    EXPECT_TRUE(started.dialogs.errors.isEmpty());
}
