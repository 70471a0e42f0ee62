// The running VOX on a private session bus: a fake VOX published in this
// process, the built program as the client.
#include "station/RemoteControl.h"
#include "station/RemoteVox.h"

#include <QDBusArgument>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDir>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>
#include <sys/prctl.h>

// Readable failures.
void PrintTo(const QString &text, std::ostream *out) { *out << '"' << text.toStdString() << '"'; }

namespace {
const QString Name = "io.github.kotarplus.kotarplus";

class TFakeVox : public TRemoteVox {
public:
    QString state = "keyed", ptt = "rigctld 127.0.0.1:4532";
    double level = -42.26;
    bool muted = false, tune = false;
    QString State() const override { return state; }
    double LevelDbfs() const override { return level; }
    bool Muted() const override { return muted; }
    bool Tune() const override { return tune; }
    QString PttTarget() const override { return ptt; }
    void SetMuted(bool on) override { muted = on; }
    void SetTune(bool on) override { tune = on; }
};

// The changed properties of each PropertiesChanged heard.
class TListener : public QObject {
    Q_OBJECT
public:
    QList<QVariantMap> heard;
signals:
    void Heard();
public slots:
    void Receive(const QDBusMessage &message)
    {
        heard << qdbus_cast<QVariantMap>(message.arguments().value(1));
        emit Heard();
    }
};

struct TRun {
    int status;
    QString out, err;
};

class RemoteControl : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Gone with the test even if the test crashes.
        FDaemon.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
        FDaemon.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        FDaemon.start("dbus-daemon", {"--session", "--nofork", "--address=unix:path=" + FDir.filePath("bus"),
                                      "--print-address"});
        ASSERT_TRUE(FDaemon.waitForReadyRead(10000)) << "no dbus-daemon";
        FAddress = QString::fromLocal8Bit(FDaemon.readLine()).trimmed();
    }
    void TearDown() override
    {
        for (const QString &name : FConnections)
            QDBusConnection::disconnectFromBus(name);
        FDaemon.terminate();
        FDaemon.waitForFinished();
    }
    QDBusConnection Connect(const QString &name)
    {
        FConnections << name;
        return QDBusConnection::connectToBus(FAddress, name);
    }
    // The program as a client, on the private bus unless told otherwise;
    // meanwhile this thread's event loop answers for the fake.
    TRun Client(const QStringList &arguments, bool privateBus = true)
    {
        QProcess client;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        if (privateBus)
            environment.insert("DBUS_SESSION_BUS_ADDRESS", FAddress);
        client.setProcessEnvironment(environment);
        client.setWorkingDirectory(FDir.path());
        QSignalSpy finished(&client, &QProcess::finished);
        client.start(qEnvironmentVariable("KOTAR_PROGRAM"), arguments);
        EXPECT_TRUE(finished.wait(30000));
        return {client.exitCode(), QString::fromLocal8Bit(client.readAllStandardOutput()),
                QString::fromLocal8Bit(client.readAllStandardError())};
    }

    QTemporaryDir FDir;
    QString FAddress;

private:
    QProcess FDaemon;
    QStringList FConnections;
};

TEST_F(RemoteControl, StatusMuteAndTuneFromTheCommandLine)
{
    TFakeVox vox;
    QStringList said;
    TRemoteControl remote(vox, Connect("first"), [&](const QString &line) { said << line; });
    const TRun status = Client({"--status"});
    EXPECT_EQ(status.status, 0) << status.err.toStdString();
    EXPECT_EQ(status.out, "state: keyed\nlevel: -42.3 dBFS\nptt: rigctld 127.0.0.1:4532\n");
    const struct {
        QStringList arguments;
        bool muted, tune;
    } steps[] = {{{"--mute", "on"}, true, false},     {{"--mute", "toggle"}, false, false},
                 {{"--mute=toggle"}, true, false},    {{"--tune", "toggle"}, true, true},
                 {{"--tune", "off"}, true, false}};
    for (const auto &step : steps) {
        const TRun run = Client(step.arguments);
        EXPECT_EQ(run.status, 0) << step.arguments.join(' ').toStdString() << ": " << run.err.toStdString();
        EXPECT_EQ(run.out + run.err, "");
        EXPECT_EQ(std::pair(vox.muted, vox.tune), std::pair(step.muted, step.tune)) << step.arguments.join(' ').toStdString();
    }
    EXPECT_EQ(said, QStringList());
    EXPECT_EQ(QDir(FDir.path()).entryList(QDir::Files), QStringList()) << "the client makes no file";
}

TEST_F(RemoteControl, AnnouncesWhatChangedAndTheLevelAtMostTenTimesASecond)
{
    TFakeVox vox;
    TRemoteControl remote(vox, Connect("first"), [](const QString &) {});
    TListener listener;
    ASSERT_TRUE(Connect("listener").connect(Name, "/io/github/kotarplus/kotarplus", "org.freedesktop.DBus.Properties",
                                            "PropertiesChanged", &listener, SLOT(Receive(QDBusMessage))));
    QSignalSpy heard(&listener, &TListener::Heard);
    vox.state = "hanging";
    emit vox.Changed();
    ASSERT_TRUE(heard.wait(10000));
    EXPECT_EQ(listener.heard.value(0), (QVariantMap{{"State", "hanging"}}));
    // A burst of capture frames: the first level at once, the latest when the hold ends.
    for (int i = 1; i <= 30; ++i) {
        vox.level = i == 30 ? -INFINITY : -i;
        emit vox.Changed();
    }
    while (listener.heard.size() < 3 && heard.wait(10000)) {}
    ASSERT_EQ(listener.heard.size(), 3);
    EXPECT_EQ(listener.heard[1], (QVariantMap{{"Level", -1.0}}));
    EXPECT_EQ(listener.heard[2], (QVariantMap{{"Level", -INFINITY}}));
    EXPECT_FALSE(heard.wait(300)) << "nothing more: silence stays silence";
}

TEST_F(RemoteControl, ASecondInstanceRunsWithoutTheNameAndTheClientFindsNone)
{
    TFakeVox vox;
    QStringList said;
    const auto say = [&](const QString &line) { said << line; };
    auto first = std::make_unique<TRemoteControl>(vox, Connect("first"), say);
    {
        TRemoteControl second(vox, Connect("second"), say);
        EXPECT_EQ(said, QStringList("Remote control: another instance holds " + Name + "; this one runs without it"));
    }
    QDBusConnection listener = Connect("listener");
    EXPECT_EQ(listener.interface()->serviceOwner(Name).value(), QDBusConnection(Connect("first")).baseService());
    first.reset();
    EXPECT_FALSE(listener.interface()->isServiceRegistered(Name).value()) << "released at the end";
    const TRun none = Client({"--tune", "on"});
    EXPECT_EQ(none.status, 1);
    EXPECT_EQ(none.err, "kotarplus: no instance is running: nobody holds " + Name + " on the session bus\n");
}

// The tests' environment names a session bus that is not there.
TEST_F(RemoteControl, WithoutASessionBusRemoteControlIsOff)
{
    TFakeVox vox;
    QStringList said;
    TRemoteControl remote(vox, QDBusConnection::sessionBus(), [&](const QString &line) { said << line; });
    const QString reason = "(Failed to connect to socket " + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").mid(10)
                           + ": No such file or directory)";
    EXPECT_EQ(said, QStringList("Remote control off: no session bus " + reason));
    const TRun run = Client({"--status"}, false);
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out + run.err, "kotarplus: cannot reach a running instance: no session bus " + reason + "\n");
}
} // namespace

#include "RemoteControlTest.moc"
