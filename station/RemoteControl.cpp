#include "station/RemoteControl.h"

#include "station/RemoteBus.h"
#include "station/RemoteVox.h"

#include <cstring>
#include <exception>
#include <vector>

namespace {
int Append(sd_bus_message *reply, const QString &text)
{
    return sd_bus_message_append_basic(reply, 's', text.toUtf8().constData());
}
int Append(sd_bus_message *reply, bool on)
{
    const int value = on;  // sd-bus's boolean
    return sd_bus_message_append_basic(reply, 'b', &value);
}
int Append(sd_bus_message *reply, double number) { return sd_bus_message_append_basic(reply, 'd', &number); }

// Every read is the VOX as it is now. A failure goes back to the caller as a
// D-Bus error; nothing is thrown into sd-bus.
template <auto Read>
int Get(sd_bus *, const char *, const char *, const char *, sd_bus_message *reply, void *vox, sd_bus_error *error)
{
    try {
        return Append(reply, (static_cast<const TRemoteVox *>(vox)->*Read)());
    } catch (const std::exception &failure) {
        return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, failure.what());
    }
}

template <void (TRemoteVox::*Set)(bool)>
int Switch(sd_bus_message *call, void *vox, sd_bus_error *error)
{
    int on = 0;
    const int read = sd_bus_message_read_basic(call, 'b', &on);
    if (read < 0)
        return read;
    try {
        (static_cast<TRemoteVox *>(vox)->*Set)(on != 0);
    } catch (const std::exception &failure) {
        return sd_bus_error_set(error, SD_BUS_ERROR_FAILED, failure.what());
    }
    return sd_bus_reply_method_return(call, "");
}

// Changes are announced by this program with the values (PropertiesChanged), hence EMITS_CHANGE.
constexpr uint64_t Announced = SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE;
const sd_bus_vtable VoxInterface[] = {
    SD_BUS_VTABLE_START(0),
    SD_BUS_PROPERTY("State", "s", Get<&TRemoteVox::State>, 0, Announced),
    SD_BUS_PROPERTY("Level", "d", Get<&TRemoteVox::LevelDbfs>, 0, Announced),
    SD_BUS_PROPERTY("Mute", "b", Get<&TRemoteVox::Muted>, 0, Announced),
    SD_BUS_PROPERTY("Tune", "b", Get<&TRemoteVox::Tune>, 0, Announced),
    SD_BUS_PROPERTY("PttTarget", "s", Get<&TRemoteVox::PttTarget>, 0, Announced),
    SD_BUS_METHOD("SetMute", "b", "", Switch<&TRemoteVox::SetMuted>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_METHOD("SetTune", "b", "", Switch<&TRemoteVox::SetTune>, SD_BUS_VTABLE_UNPRIVILEGED),
    SD_BUS_VTABLE_END};

const QString Taken =
    QString("Remote control: another instance holds %1; this one runs without it").arg(RemoteBus::Service);
} // namespace

TRemoteControl::TRemoteControl(TRemoteVox &vox, const QString &busAddress, const TSay &say, QObject *parent)
    : QObject(parent), FVox(vox), FBus(busAddress)
{
    // The level changes with every capture frame; clients get it at most 10 times a second.
    FLevelHold.setSingleShot(true);
    FLevelHold.setInterval(100);
    connect(&FLevelHold, &QTimer::timeout, this, &TRemoteControl::Announce);
    Publish(say);
}

TRemoteControl::~TRemoteControl()
{
    // The name goes first, so that no client finds it without the object.
    if (FOwnsName)
        sd_bus_release_name(FBus.Bus(), RemoteBus::Service);
    sd_bus_slot_unref(FObject);
}

void TRemoteControl::Publish(const TSay &say)
{
    sd_bus *bus = FBus.Bus();
    if (!bus) {
        say("Remote control off: no session bus (" + FBus.Failure() + ")");
        return;
    }
    // The object before the name: a client that sees the name finds the object.
    const int added = sd_bus_add_object_vtable(bus, &FObject, RemoteBus::Path, RemoteBus::Interface, VoxInterface, &FVox);
    if (added < 0) {
        say(QString("Remote control off: ") + std::strerror(-added));
        return;
    }
    const int requested = sd_bus_request_name(bus, RemoteBus::Service, 0);
    // Answers to others read during that call are served from the event loop.
    FBus.Serve();
    if (requested < 0) {
        FObject = sd_bus_slot_unref(FObject);
        say(requested == -EEXIST ? Taken : QString("Remote control off: ") + std::strerror(-requested));
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
    std::vector<QByteArray> changed;
    const QVariantMap now = Settled();
    for (auto i = now.cbegin(); i != now.cend(); ++i)
        if (i.value() != FAnnounced.value(i.key()))
            changed.push_back(i.key().toUtf8());
    FAnnounced = now;
    // Compared as numbers: a silent -inf equals itself.
    const double level = FVox.LevelDbfs();
    if (level != FAnnouncedLevel && !FLevelHold.isActive()) {
        changed.push_back("Level");
        FAnnouncedLevel = level;
        FLevelHold.start();
    }
    if (changed.empty())
        return;
    std::vector<char *> names;
    for (QByteArray &name : changed)
        names.push_back(name.data());
    names.push_back(nullptr);
    sd_bus_emit_properties_changed_strv(FBus.Bus(), RemoteBus::Path, RemoteBus::Interface, names.data());
    FBus.Serve();
}
