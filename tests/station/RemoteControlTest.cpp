// The running VOX on a private session bus: fake VOXes published in this
// process, the built program as the client.
#include "station/RemoteControl.h"
#include "station/RemoteVox.h"

#include "PrivateBus.h"

#include <QDir>
#include <gtest/gtest.h>

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

// Two instances on the private bus, one on the tests' session bus, which is not there.
TEST(RemoteControl, TheClientReachesTheOneInstanceThatHoldsTheName)
{
    TPrivateBus bus;
    TFakeVox vox, other;
    QStringList said;
    const auto say = [&](const QString &line) { said << line; };
    auto first = std::make_unique<TRemoteControl>(vox, bus.Connect("first"), say);
    TRemoteControl second(other, bus.Connect("second"), say);
    TRemoteControl offBus(other, QDBusConnection::sessionBus(), say);
    const QString noBus = "no session bus (Failed to connect to socket "
                          + qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS").mid(10) + ": No such file or directory)";
    EXPECT_EQ(said, QStringList({"Remote control: another instance holds " + Name + "; this one runs without it",
                                 "Remote control off: " + noBus}));
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
    first.reset();  // releases the name
    // Qt's D-Bus may add a warning of its own as the client ends.
    const auto firstLine = [](const std::pair<int, QString> &answer) {
        return std::pair(answer.first, answer.second.section('\n', 0, 0));
    };
    EXPECT_EQ(firstLine(bus.Client({"--tune", "on"})),
              std::pair(1, "kotarplus: no instance is running: nobody holds " + Name + " on the session bus"));
    EXPECT_EQ(firstLine(bus.Client({"--status"}, false)),
              std::pair(1, "kotarplus: cannot reach a running instance: " + noBus));
}
} // namespace
