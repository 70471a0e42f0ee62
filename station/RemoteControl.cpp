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
    // The connection's close, which follows, lets go of the name and the object together.
    sd_bus_slot_unref(FRequest);
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
    // Asked without waiting: a session bus that does not answer must not hold
    // up the window's thread. The answer comes through the event loop.
    const int requested =
        added < 0 ? added : sd_bus_request_name_async(bus, &FRequest, RemoteBus::Service, 0, &Named, this);
    if (requested < 0) {
        FObject = sd_bus_slot_unref(FObject);
        say(QString("Remote control off: ") + std::strerror(-requested));
        return;
    }
    FSay = say;
    // Said by the instance that serves; one that runs without the name has said so.
    connect(&FBus, &TSessionBus::Lost, this, [this](const QString &why) {
        if (FObject) {
            FObject = sd_bus_slot_unref(FObject);
            // Nobody is told any more: the VOX's changes need no comparing.
            disconnect(&FVox, &TRemoteVox::Changed, this, &TRemoteControl::Announce);
            FSay("Remote control off: the session bus went away (" + why + ")");
        }
    });
    FBus.Serve();
}

int TRemoteControl::Named(sd_bus_message *reply, void *self, sd_bus_error *)
{
    auto *control = static_cast<TRemoteControl *>(self);
    // RequestName's answers: 1 primary owner, 3 held by another (never queued).
    uint32_t answer = 0;
    const sd_bus_error *error = sd_bus_message_get_error(reply);
    if (!error && sd_bus_message_read_basic(reply, 'u', &answer) < 0)
        answer = 0;
    if (answer != 1) {
        control->FObject = sd_bus_slot_unref(control->FObject);
        control->FSay(answer == 3 ? QString("Remote control: another instance holds %1; this one runs without it")
                                        .arg(RemoteBus::Service)
                                  : QString("Remote control off: ")
                                        + (error && error->message ? error->message : "the bus refused the name"));
        return 0;
    }
    control->FAnnounced = control->Settled();
    control->FAnnouncedLevel = control->FVox.LevelDbfs();
    connect(&control->FVox, &TRemoteVox::Changed, control, &TRemoteControl::Announce);
    return 0;
}

TRemoteControl::TSettled TRemoteControl::Settled() const
{
    return {FVox.State(), FVox.Muted(), FVox.Tune(), FVox.PttTarget()};
}

void TRemoteControl::Announce()
{
    // sd-bus takes the names as char ** and only reads them.
    std::vector<char *> names;
    const TSettled now = Settled();
    if (now.Mute != FAnnounced.Mute)
        names.push_back(const_cast<char *>("Mute"));
    if (now.PttTarget != FAnnounced.PttTarget)
        names.push_back(const_cast<char *>("PttTarget"));
    if (now.State != FAnnounced.State)
        names.push_back(const_cast<char *>("State"));
    if (now.Tune != FAnnounced.Tune)
        names.push_back(const_cast<char *>("Tune"));
    FAnnounced = now;
    // Compared as numbers: a silent -inf equals itself.
    const double level = FVox.LevelDbfs();
    if (level != FAnnouncedLevel && !FLevelHold.isActive()) {
        names.push_back(const_cast<char *>("Level"));
        FAnnouncedLevel = level;
        FLevelHold.start();
    }
    if (names.empty())
        return;
    names.push_back(nullptr);
    sd_bus_emit_properties_changed_strv(FBus.Bus(), RemoteBus::Path, RemoteBus::Interface, names.data());
    FBus.Serve();
}
