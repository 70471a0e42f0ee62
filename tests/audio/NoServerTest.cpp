#include "AudioTestSupport.h"
#include "DeafServer.h"
#include "SpawnedProcess.h"
#include "TestSupport.h"
#include "app/KOTARUnit.h"
#include "support/LEDButton.h"

#include <QComboBox>
#include <QDBusConnection>
#include <QDBusContext>
#include <QFile>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <linux/capability.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <gtest/gtest.h>

using namespace AudioTest;

// This program runs with PULSE_SERVER naming a socket where no server listens.
namespace {

TEST(NoSoundServer, NothingIsListedAndNothingStarts)
{
    EXPECT_TRUE(RecordDeviceNames().isEmpty());
    BASS_DEVICEINFO info;
    EXPECT_FALSE(BASS_GetDeviceInfo(0, &info));
    EXPECT_FALSE(BASS_RecordInit(-1));
    EXPECT_FALSE(BASS_RecordInit(0));
    EXPECT_EQ(BASS_RecordStart(44100, 2, 0, nullptr, nullptr), 0u);
}

TEST(NoSoundServer, StartUpGoesOnWithoutCapture)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"), "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\n");
    ASSERT_TRUE(AwaitSoundServerAnswer());
    {
        TFormPlayer form{QStringList()};
        form.Terminate = [] {};
        EXPECT_EQ(form.CaptureChannel, 0u);
        EXPECT_EQ(form.ComboSoundCard->count(), 0);
        EXPECT_EQ(form.ComboSoundCard->currentText(), "Default");
        const QStringList trace = TraceMessages(dir.file("KOTARPlus.Log"));
        const qsizetype first = trace.indexOf("Listing System sound recording devices");
        ASSERT_GE(first, 1);
        // The capture thread notes its priority from its own thread, in any order.
        const QStringList before = trace.mid(0, first);
        EXPECT_EQ(before.filter(QRegularExpression("^No sound server \\(.+\\): nothing is recorded$")).size(), 1)
            << before.join('\n').toStdString();
        EXPECT_EQ(trace.mid(first + 1, 2), (QStringList{"BASSSetup: Device(-1) initialized Device(Default)",
                                                         "CreateForm: Device(-1) configured"}));
        EXPECT_TRUE(ShowsCaptureState(form)) << "the window says there is no server";
        // A change in the box tries again, and fails the same quiet way.
        form.ComboSoundCardEdited();
        form.CurrentDevice = 3;
        form.ComboSoundCardEdited();
        EXPECT_EQ(form.CaptureChannel, 0u);
        form.close();
    }
    BASS_Free();
}

// A server that takes the connection and never answers (a socket nobody
// reads): the window starts, and each thing it does with the library returns,
// while the library waits on its own thread. The bound only guards against a
// hang; bench/ has the figures.
TEST(DeafSoundServer, TheWindowStartsAndNoCallWaits)
{
    BASS_Free();
    const QByteArray absent = qgetenv("PULSE_SERVER");
    const auto restore = qScopeGuard([&] {
        BASS_Free();
        qputenv("PULSE_SERVER", absent);
    });
    TDeafServer deaf;
    const auto quick = [](const std::function<void()> &calls) {
        const auto start = std::chrono::steady_clock::now();
        calls();
        return std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
    };

    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    WriteText(dir.file("KOTARPlus.INI"),
              "[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-port\nDEVICE=0\nRELAY=kotarplus_tx\n");
    std::unique_ptr<TFormPlayer> form;
    EXPECT_TRUE(quick([&] { form = std::make_unique<TFormPlayer>(QStringList()); }));
    form->Terminate = [] {};
    ASSERT_TRUE(WaitFor([&] { return deaf.Take(); })) << "no connection";
    EXPECT_TRUE(quick([&] {
        form->TimerRenderTimer();
        form->ComboSoundCardEdited();
        form->CaptureSoundCard();
        BASS_DEVICEINFO info;
        BASS_GetDeviceInfo(0, &info);
        RecordState(form->CaptureChannel);
        form->LEDMuteButtonClick();
    }));
    EXPECT_TRUE(form->LEDMuteButton->LEDOn()) << "Mute did not answer";
    EXPECT_EQ(SoundServerState(), ssConnecting) << "the server answered meanwhile";
    EXPECT_TRUE(ShowsCaptureState(*form));
    EXPECT_TRUE(quick([&] {
        form->close();
        form.reset();
        BASS_Free();
    }));
}

// RealtimeKit on a private bus standing in for the system bus.
class TRealtimeKit : public QObject, protected QDBusContext {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.RealtimeKit1")

public:
    QString Refusal; // empty: granted
    quint64 Thread = 0;
    quint32 Priority = 0;

public slots:
    void MakeThreadRealtime(quint64 thread, quint32 priority)
    {
        Thread = thread;
        Priority = priority;
        if (!Refusal.isEmpty())
            sendErrorReply("org.freedesktop.DBus.Error.AccessDenied", Refusal);
    }
};

// Without the right to real-time scheduling, the capture thread asks
// RealtimeKit for it; the trace line says what it got either way.
TEST(CaptureThread, AsksRealtimeKitWhenItMayNotRaiseItself)
{
    BASS_Free();
    QTemporaryDir dir;
    // Started without a fork of this threaded process (ThreadSanitizer).
    TSpawnedProcess daemon;
    const QString address = "unix:path=" + dir.filePath("bus");
    ASSERT_TRUE(daemon.start("dbus-daemon", {"--session", "--nofork", "--address=" + address}));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(dir.filePath("bus")); }));
    // No right of our own: no capability, no real-time limit.
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct capabilities[2]{};
    ASSERT_EQ(syscall(SYS_capget, &header, capabilities), 0);
    const auto had = capabilities[0].effective;
    capabilities[0].effective &= ~(1u << CAP_SYS_NICE);
    ASSERT_EQ(syscall(SYS_capset, &header, capabilities), 0);
    rlimit limit{};
    getrlimit(RLIMIT_RTPRIO, &limit);
    const rlimit rtprio = limit;
    limit.rlim_cur = 0;
    setrlimit(RLIMIT_RTPRIO, &limit);
    const QByteArray systemBus = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", address.toUtf8());
    const auto restore = qScopeGuard([&] {
        BASS_Free();
        capabilities[0].effective = had;
        syscall(SYS_capset, &header, capabilities);
        setrlimit(RLIMIT_RTPRIO, &rtprio);
        systemBus.isNull() ? qunsetenv("DBUS_SYSTEM_BUS_ADDRESS") : qputenv("DBUS_SYSTEM_BUS_ADDRESS", systemBus);
        QDBusConnection::disconnectFromBus("realtimekit");
        daemon.kill();
        daemon.waitForFinished();
    });
    TRealtimeKit kit;
    {
        QDBusConnection bus = QDBusConnection::connectToBus(address, "realtimekit");
        ASSERT_TRUE(bus.registerService("org.freedesktop.RealtimeKit1"));
        ASSERT_TRUE(bus.registerObject("/org/freedesktop/RealtimeKit1", &kit, QDBusConnection::ExportAllSlots));
    }
    for (const QString refusal : {"", "not now"}) {
        kit.Refusal = refusal;
        QStringList notes;
        SetRecordDeviceNotify([&](const TRecordDeviceEvent &event) {
            if (event.Kind == TRecordDeviceEvent::Note)
                notes << event.Reason;
        });
        SoundServerState();
        ASSERT_TRUE(WaitFor([&] { return !notes.isEmpty(); })) << refusal.toStdString();
        EXPECT_EQ(notes, QStringList{refusal.isEmpty() ? "Capture thread: real-time priority 5 (RealtimeKit)"
                                                       : "Capture thread: normal priority (SCHED_RR: Operation not "
                                                         "permitted; RealtimeKit: not now)"});
        EXPECT_EQ(kit.Priority, 5u);
        EXPECT_NE(kit.Thread, quint64(gettid())) << "the capture thread, not the caller";
        EXPECT_TRUE(QFile::exists("/proc/self/task/" + QString::number(kit.Thread)));
        BASS_Free();
    }
}

} // namespace

#include "NoServerTest.moc"
