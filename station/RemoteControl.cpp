#include "station/RemoteControl.h"

#include "station/RemoteBus.h"
#include "station/RemoteVox.h"

#include <QDBusAbstractAdaptor>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusReply>

namespace {
// The interface as clients see it: every read is the VOX as it is now.
class TVoxAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "io.github.kotarplus.kotarplus.Vox")
    Q_PROPERTY(QString State READ State)
    Q_PROPERTY(double Level READ Level)
    Q_PROPERTY(bool Mute READ Mute)
    Q_PROPERTY(bool Tune READ Tune)
    Q_PROPERTY(QString PttTarget READ PttTarget)
public:
    TVoxAdaptor(QObject *parent, TRemoteVox &vox) : QDBusAbstractAdaptor(parent), FVox(vox) {}
    QString State() const { return FVox.State(); }
    double Level() const { return FVox.LevelDbfs(); }
    bool Mute() const { return FVox.Muted(); }
    bool Tune() const { return FVox.Tune(); }
    QString PttTarget() const { return FVox.PttTarget(); }

public slots:
    void SetMute(bool on) { FVox.SetMuted(on); }
    void SetTune(bool on) { FVox.SetTune(on); }

private:
    TRemoteVox &FVox;
};

const QString Taken =
    QString("Remote control: another instance holds %1; this one runs without it").arg(RemoteBus::Service);
} // namespace

TRemoteControl::TRemoteControl(TRemoteVox &vox, const QDBusConnection &bus, const TSay &say, QObject *parent)
    : QObject(parent), FVox(vox), FBus(bus)
{
    // The level changes with every capture frame; clients get it at most 10 times a second.
    FLevelHold.setSingleShot(true);
    FLevelHold.setInterval(100);
    connect(&FLevelHold, &QTimer::timeout, this, &TRemoteControl::Announce);
    new TVoxAdaptor(this, vox);
    Publish(say);
}

TRemoteControl::~TRemoteControl()
{
    // The name goes first, so that no client finds it without the object.
    if (FOwnsName) {
        FBus.unregisterService(RemoteBus::Service);
        FBus.unregisterObject(RemoteBus::Path);
    }
}

void TRemoteControl::Publish(const TSay &say)
{
    if (!FBus.isConnected()) {
        say("Remote control off: no session bus (" + FBus.lastError().message() + ")");
        return;
    }
    // The object before the name: a client that sees the name finds the object.
    if (!FBus.registerObject(RemoteBus::Path, this, QDBusConnection::ExportAdaptors)) {
        say(Taken);
        return;
    }
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply = FBus.interface()->registerService(
        RemoteBus::Service, QDBusConnectionInterface::DontQueueService, QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        FBus.unregisterObject(RemoteBus::Path);
        say(reply.isValid() ? Taken : "Remote control off: " + reply.error().message());
        return;
    }
    FOwnsName = true;
    FAnnounced = Settled();
    FAnnouncedLevel = FVox.LevelDbfs();
    connect(&FVox, &TRemoteVox::Changed, this, &TRemoteControl::Announce);
}

QVariantMap TRemoteControl::Settled() const
{
    return {{"State", FVox.State()}, {"Mute", FVox.Muted()}, {"Tune", FVox.Tune()}, {"PttTarget", FVox.PttTarget()}};
}

void TRemoteControl::Announce()
{
    QVariantMap changed;
    const QVariantMap now = Settled();
    for (auto i = now.cbegin(); i != now.cend(); ++i)
        if (i.value() != FAnnounced.value(i.key()))
            changed.insert(i.key(), i.value());
    FAnnounced = now;
    // Compared as numbers: a silent -inf equals itself.
    const double level = FVox.LevelDbfs();
    if (level != FAnnouncedLevel && !FLevelHold.isActive()) {
        changed.insert("Level", level);
        FAnnouncedLevel = level;
        FLevelHold.start();
    }
    if (changed.isEmpty())
        return;
    QDBusMessage signal =
        QDBusMessage::createSignal(RemoteBus::Path, "org.freedesktop.DBus.Properties", "PropertiesChanged");
    signal << QString(RemoteBus::Interface) << changed << QStringList();
    FBus.send(signal);
}

#include "RemoteControl.moc"
