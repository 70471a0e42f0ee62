// The running VOX on a private session bus: fake VOXes published in this
// process, the built program as the client.
#include "audio/RealTime.h"
#include "station/RemoteClient.h"
#include "station/RemoteControl.h"
#include "station/RemoteVox.h"

#include "PrivateBus.h"
#include "TestSupport.h"

#include <QDBusConnection>
#include <QDir>
#include <QTemporaryDir>
#include <QSignalSpy>
#include <cstring>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace {
const QString Name = "io.github.kotarplus.kotarplus";

struct TFakeVox : TRemoteVox {
    bool muted = false, tune = false;
    QString State() const override { return "keyed"; }
    double LevelDbfs() const override { return -42.26; }
    bool Muted() const override { return muted; }
    bool Tune() const override { return tune; }
    QString PttTarget() const override { return "rigctld 127.0.0.1:4532"; }
    void SetMuted(bool on) override { muted = on; }
    void SetTune(bool on) override { tune = on; }
};

// What a desktop applet would listen to.
struct TWatcher : QObject {
    Q_OBJECT
public:
    QVariantMap changed;
signals:
    void Heard();
public slots:
    void Changed(const QString &, const QVariantMap &properties, const QStringList &)
    {
        changed = properties;
        emit Heard();
    }
};

// Two instances on the private bus, one on the tests' session bus, which is not there.
TEST(RemoteControl, TheClientReachesTheOneInstanceThatHoldsTheName)
{
    TPrivateBus bus;
    TFakeVox vox, other;
    QStringList said;
    const auto say = [&](const QString &line) { said << line; };
    auto first = std::make_unique<TRemoteControl>(vox, bus.address, say);
    TRemoteControl second(other, bus.address, say);
    TRemoteControl offBus(other, QString(), say);
    const QString noBus =
        "no session bus (" + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS") + ": No such file or directory)";
    // The name is asked for without waiting: the refusal comes through the event loop.
    ASSERT_TRUE(PumpUntil([&] { return said.size() == 2; }, std::chrono::seconds(10)));
    EXPECT_EQ(said, QStringList({"Remote control off: " + noBus,
                                 "Remote control: another instance holds " + Name + "; this one runs without it"}));
    EXPECT_EQ(bus.Client({"--status"}),
              std::pair(0, QString("state: keyed\nlevel: -42.3 dBFS\nptt: rigctld 127.0.0.1:4532\n")));
    const struct { QStringList arguments; bool muted, tune; } steps[] = {{{"--mute", "on"}, true, false},
        {{"--mute=toggle"}, false, false}, {{"--tune", "toggle"}, false, true}, {{"--tune", "off"}, false, false}};
    for (const auto &step : steps) {
        SCOPED_TRACE(step.arguments.join(' ').toStdString());
        EXPECT_EQ(bus.Client(step.arguments), std::pair(0, QString()));
        EXPECT_EQ(std::pair(vox.muted, vox.tune), std::pair(step.muted, step.tune));
    }
    EXPECT_EQ(QDir(bus.dir.path()).entryList(QDir::Files), QStringList()) << "the client reads and makes no file";

    // A change is announced with its value, and only what changed.
    TWatcher watcher;
    QDBusConnection listener = QDBusConnection::connectToBus(bus.address, "listener");
    ASSERT_TRUE(listener.connect(Name, "/io/github/kotarplus/kotarplus", "org.freedesktop.DBus.Properties",
                                 "PropertiesChanged", &watcher, SLOT(Changed(QString, QVariantMap, QStringList))));
    QSignalSpy heard(&watcher, &TWatcher::Heard);
    vox.tune = vox.muted = true;
    emit vox.Changed();
    ASSERT_TRUE(heard.wait(5000));
    EXPECT_EQ(watcher.changed, QVariantMap({{"Mute", true}, {"Tune", true}}));
    first.reset();  // releases the name
    EXPECT_EQ(bus.Client({"--tune", "on"}),
              std::pair(1, "kotarplus: no instance is running: nobody holds " + Name + " on the session bus\n"));
    EXPECT_EQ(bus.Client({"--status"}, false), std::pair(1, "kotarplus: cannot reach a running instance: " + noBus + "\n"));
    TRemoteControl holder(vox, bus.address, say);  // the one serving says once that the bus went away
    ASSERT_EQ(bus.Client({"--status"}).first, 0);
    bus.daemon.terminate();
    ASSERT_TRUE(PumpUntil([&] { return said.size() == 3; }, std::chrono::seconds(10)));
    QCoreApplication::processEvents();
    EXPECT_EQ(said.size(), 3);
    EXPECT_TRUE(said.last().startsWith("Remote control off: the session bus went away (")) << qPrintable(said.last());
}
// A bus that takes the connection and never answers: the program starts and
// ends without waiting for it, and says nothing it does not know.
TEST(RemoteControl, ABusThatDoesNotAnswerHoldsNothingUp)
{
    QTemporaryDir dir;
    const QByteArray path = dir.filePath("bus").toUtf8();
    const int deaf = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.constData(), sizeof address.sun_path - 1);
    ASSERT_EQ(bind(deaf, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    ASSERT_EQ(listen(deaf, 4), 0);
    TFakeVox vox;
    QStringList said;
    auto control = std::make_unique<TRemoteControl>(vox, "unix:path=" + path, [&](const QString &line) { said << line; });
    EXPECT_EQ(said, QStringList()) << "waited for the bus's answer";
    control.reset();
    // The command-line client and the capture thread's RealtimeKit request give
    // up at their calls' limits (3 s, 2 s), not at the bus's 90 s; the test's
    // time limit is 60 s.
    const QByteArray session = qgetenv("DBUS_SESSION_BUS_ADDRESS"), system = qgetenv("DBUS_SYSTEM_BUS_ADDRESS");
    qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", "unix:path=" + path);
    EXPECT_EQ(RunRemoteCommand({}, [](const QString &) {}), 1);
    EXPECT_NE(RealTime::ViaRealtimeKit(gettid(), "refused").find("normal priority"), std::string::npos);
    qputenv("DBUS_SESSION_BUS_ADDRESS", session);
    system.isNull() ? qunsetenv("DBUS_SYSTEM_BUS_ADDRESS") : qputenv("DBUS_SYSTEM_BUS_ADDRESS", system);
    close(deaf);
}
} // namespace

#include "RemoteControlTest.moc"
