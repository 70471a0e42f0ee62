// CM108 GPIO PTT, the sysfs search that finds the GPIO of a sound card, and
// the port list, on folder trees the tests build.
//
// The stand-in for a hidraw device is a plain file whose name has the hidraw
// form: each HID output report written to it is appended, so the file holds
// the reports in order. A CM108-family chip takes 5 bytes per write: the
// report number 0 (hidraw's first byte; the chips have one output report),
// then the four output bytes of the C-Media CM108/CM119 data sheets' "HID
// output report": 0x00 (bits 7-6 = 00, write the GPIO pins), the GPIO data
// (bit n-1 is GPIOn), the GPIO direction (1 = output), 0x00.
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "support/ShutdownSignals.h"
#include "ptt/CPort.h"
#include "ptt/Cm108Devices.h"
#include "ptt/PortList.h"
#include "ptt/PttAdvice.h"
#include "support/ErrorReport.h"
#include "support/LEDButton.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <grp.h>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
// A sysfs tree as the kernel lays out USB sound cards and hidraw devices.
class TFakeSysfs {
public:
    TFakeSysfs() : FRoot(FDir.path()) {}
    const QString &Root() const { return FRoot; }

    // A USB device at the port path ("1-1") with a sound interface (card) and
    // a HID interface ("0D8C:013C", hidraw); empty parts are left out.
    void AddUsbDevice(const QString &port, int card, const QString &vendorProduct, int hidraw)
    {
        const QString usb = FRoot + "/devices/pci0000:00/0000:00:14.0/usb1/" + port;
        if (card >= 0) {
            const QString sound = usb + "/" + port + ":1.0";
            const QString cardFolder = sound + "/sound/card" + QString::number(card);
            QDir().mkpath(cardFolder);
            Link(sound, cardFolder + "/device");
            Link(cardFolder, ClassFolder("sound") + "/card" + QString::number(card));
        }
        if (hidraw >= 0) {
            const QString hid = usb + "/" + port + ":1.3/0003:" + vendorProduct + ".000" + QString::number(hidraw);
            const QString node = hid + "/hidraw/hidraw" + QString::number(hidraw);
            QDir().mkpath(node);
            Link(hid, node + "/device");
            Link(node, ClassFolder("hidraw") + "/hidraw" + QString::number(hidraw));
        }
    }
    // A card on the PCI bus, as built-in sound is.
    void AddPciCard(int card)
    {
        const QString pci = FRoot + "/devices/pci0000:00/0000:00:1f.3";
        const QString cardFolder = pci + "/sound/card" + QString::number(card);
        QDir().mkpath(cardFolder);
        Link(pci, cardFolder + "/device");
        Link(cardFolder, ClassFolder("sound") + "/card" + QString::number(card));
    }
    void AddTty(const QString &name, int type)
    {
        const QString folder = ClassFolder("tty") + "/" + name;
        QDir().mkpath(folder);
        WriteText(folder + "/type", QString::number(type) + "\n");
    }
    // The sysfs path a sound server gives for a card.
    QString CardPath(int card) const
    {
        return QFileInfo(FRoot + "/class/sound/card" + QString::number(card)).symLinkTarget().mid(FRoot.size());
    }

private:
    QString ClassFolder(const QString &name)
    {
        const QString folder = FRoot + "/class/" + name;
        QDir().mkpath(folder);
        return folder;
    }
    static void Link(const QString &target, const QString &link) { ASSERT_TRUE(QFile::link(target, link)); }

    QTemporaryDir FDir;
    QString FRoot;
};

QByteArray Report(unsigned char data, unsigned char direction)
{
    return QByteArray::fromRawData("\0\0", 2) + char(data) + char(direction) + '\0';
}
} // namespace

// Which names are a CM108's and which a Windows port's decides the lines keyed
// and the advice given.
TEST(Cm108, PortNamesAreTold)
{
    for (const char *name : {"CM108", "cm108", "/dev/hidraw7", "hidraw0"})
        EXPECT_TRUE(IsCm108PortName(name)) << name;
    for (const char *name : {"/dev/hidraw", "/tmp/nothidraw3", "/dev/hidraw3x", "CM1080"})
        EXPECT_FALSE(IsCm108PortName(name)) << name;
    for (const char *name : {"COM3", "com12"})
        EXPECT_TRUE(IsWindowsPortName(name)) << name;
    for (const char *name : {"COM", "COM3a", "/dev/COM3"})
        EXPECT_FALSE(IsWindowsPortName(name)) << name;
}

TEST(Cm108, SysfsPairsTheCapturedCardWithItsGpioAndThePortListOffersRealPorts)
{
    TFakeSysfs sysfs;
    sysfs.AddPciCard(0);
    sysfs.AddUsbDevice("1-1", 1, "0D8C:013C", 2); // CM108AH interface
    sysfs.AddUsbDevice("1-2", 2, "1209:7388", 5); // AIOC cable
    sysfs.AddUsbDevice("1-3", -1, "046D:C52B", 0); // a keyboard's receiver
    sysfs.AddUsbDevice("1-4", 3, "", -1);          // a sound card without GPIO

    std::vector<QString> found;
    for (const TCm108Device &device : FindCm108Devices(sysfs.Root()))
        found.push_back(device.Hidraw);
    EXPECT_EQ(found, std::vector<QString>({"hidraw2", "hidraw5"}));
    EXPECT_EQ(Cm108OfSoundCard(sysfs.Root(), "1"), "hidraw2");
    EXPECT_EQ(Cm108OfSoundCard(sysfs.Root(), sysfs.CardPath(2)), "hidraw5");
    EXPECT_EQ(Cm108OfSoundCard(sysfs.Root(), "3"), "");
    // "CM108" keys the captured card's GPIO or none; never another card's.
    EXPECT_EQ(ResolveCm108(sysfs.Root(), "2"), "hidraw5");
    EXPECT_EQ(ResolveCm108(sysfs.Root(), "0"), "");
    EXPECT_EQ(ResolveCm108(sysfs.Root(), ""), "") << "two devices and no card to choose by";

    // The port list reads names and attributes only; every device is a plain
    // file here, and ttyS0 has no UART behind it.
    TemporaryWorkDir dev;
    for (const char *name : {"ttyUSB0", "ttyACM1", "ttyS0", "ttyS1", "tty0", "sda", "hidraw0", "hidraw2"})
        WriteText(dev.file(name), "");
    QDir().mkpath(dev.file("serial/by-id"));
    ASSERT_TRUE(QFile::link("../../ttyUSB0", dev.file("serial/by-id/usb-FTDI_FT232R_A1-if00-port0")));
    sysfs.AddTty("ttyS0", 0);
    sysfs.AddTty("ttyS1", 4);
    EXPECT_EQ(ListPttPorts(dev.path(), sysfs.Root()),
              QStringList({"/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0", "ttyACM1", "ttyUSB0", "ttyS1",
                           "/dev/hidraw2", "/dev/hidraw5", "CM108"}));
    EXPECT_EQ(PortCaption("/dev/serial/by-id/usb-FTDI_FT232R_A1-if00-port0"), "usb-FTDI_FT232R_A1-if00-port0");
}

// A name that is a FIFO (nobody reading) is refused at once, never waited on.
TEST(Cm108, AFifoNamedAsTheDeviceNeverBlocks)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    const QString fifo = dir.file("hidraw7");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + fifo + "\n");
    alarm(20); // a blocking open would hang the test instead of failing it
    TFormPlayer window{QStringList()};
    alarm(0);
    EXPECT_TRUE(window.PTT_None->isChecked());
    ASSERT_EQ(dialogs.messages.size(), 1);
    EXPECT_TRUE(dialogs.messages[0].startsWith("Defined COM Port not available"));
}

// A FIFO named as the device whose reader goes away while keyed: the release
// is an ordinary write error (EPIPE), reported, and the program goes on.
TEST(Cm108, AFifoWhoseReaderGoesAwayWhileKeyedFailsTheWriteAndIsReported)
{
    IgnoreBrokenPipes(); // as the program's entry does
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    const QString fifo = dir.file("hidraw7");
    ASSERT_EQ(mkfifo(fifo.toLocal8Bit().constData(), 0600), 0);
    const int reader = open(fifo.toLocal8Bit().constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(reader, 0);
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + fifo + "\n");
    TFormPlayer window{QStringList()};
    ASSERT_TRUE(window.PTT_Serial->isChecked());
    ErrorReport::Guarded([&] { window.TuneButtonClick(); });
    ASSERT_TRUE(dialogs.errors.isEmpty());
    close(reader);
    ErrorReport::Guarded([&] { window.TuneButtonClick(); });
    EXPECT_FALSE(window.TuneButton->LEDOn());
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains("Broken pipe")) << dialogs.errors[0].toStdString();
}

// Start-up opens the GPIO at its idle level, PTT writes the pin's level for
// on and off, and the program's end releases it.
TEST(Cm108, ReportsForOnAndOffFollowThePinAndItsPolarity)
{
    const struct {
        const char *lines;
        QByteArray idle, keyed;
    } cases[] = {
        {"DTR+RTS", Report(0x00, 0x04), Report(0x04, 0x04)}, // serial lines named: GPIO3
        {"GPIO1", Report(0x00, 0x01), Report(0x01, 0x01)},
        {"!GPIO8", Report(0x80, 0x80), Report(0x00, 0x80)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.lines);
        TemporaryWorkDir dir;
        RecordedDialogs dialogs;
        const QString device = dir.file("hidraw7");
        WriteBytes(device, QByteArray());
        WriteText(dir.file("KOTARPlus.INI"),
                  "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + device + "\nPTTLINES=" + c.lines + "\n");
        auto window = std::make_unique<TFormPlayer>(QStringList());
        EXPECT_TRUE(dialogs.messages.isEmpty());
        ASSERT_TRUE(window->PTT_Serial->isChecked());
        EXPECT_FALSE(window->PTTComPort->Connected()) << "the port object opens no GPIO";
        EXPECT_EQ(ReadBytes(device), c.idle + c.idle) << "opened at rest, then start-up's PTT off";

        window->TxRig(true);
        window->TxRig(false);
        window->TxRig(true);
        window->close();
        window.reset();
        EXPECT_EQ(ReadBytes(device), c.idle + c.idle + c.keyed + c.idle + c.keyed + c.idle);
    }
}

// Root opens any file; this one runs as an unprivileged user (see the test's
// CMake entry), for whom a device without permission fails with EACCES.
TEST(Unprivileged, APortWithoutPermissionNamesTheGroupAndTheRemedy)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root bypasses permissions";
    for (const char *name : {"ttyKOTAR", "hidraw9"}) {
        TemporaryWorkDir dir;
        RecordedDialogs dialogs;
        const QString device = dir.file(name);
        WriteText(device, "");
        ASSERT_TRUE(QFile::setPermissions(device, {}));
        WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=SERIAL\nCOMPORT=" + device + "\n");
        TFormPlayer window{QStringList()};
        const QString advice = device + ": Permission denied; the device belongs to group " + QString::fromLocal8Bit(getgrgid(getegid())->gr_name)
                               + ": add your user to that group (usually dialout; plugdev for hidraw), then log in again";
        EXPECT_EQ(dialogs.messages, QStringList({"Defined COM Port not available\n" + advice})) << name;
        const QStringList trace = TraceMessages(dir.file("KOTARPlus.Log"));
        const qsizetype failed = trace.indexOf("COM Port (" + device + ") creation failed");
        ASSERT_GE(failed, 0) << name;
        EXPECT_EQ(trace.value(failed + 1), advice) << name;
        EXPECT_TRUE(window.PTT_None->isChecked());
    }
}
