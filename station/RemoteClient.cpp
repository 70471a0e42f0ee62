#include "station/RemoteClient.h"

#include "station/RemoteBus.h"
#include "station/SessionBus.h"

#include <QVariantMap>
#include <cstdio>
#include <cstring>
#include <memory>

namespace {
// A hotkey must not hang on an instance that does not answer.
constexpr uint64_t Patience = 3000000;  // microseconds

struct TAnswer {
    sd_bus_error Error = SD_BUS_ERROR_NULL;
    sd_bus_message *Reply = nullptr;
    int Result = 0;
    ~TAnswer()
    {
        sd_bus_error_free(&Error);
        sd_bus_message_unref(Reply);
    }
};

void Call(sd_bus *bus, const char *interface, const char *method, char type, const void *argument, TAnswer &answer)
{
    sd_bus_message *call = nullptr;
    answer.Result = AwaitBus(bus, Patience);
    if (answer.Result >= 0)
        answer.Result =
            sd_bus_message_new_method_call(bus, &call, RemoteBus::Service, RemoteBus::Path, interface, method);
    // A name nobody holds is an answer, not something to start.
    if (answer.Result >= 0)
        answer.Result = sd_bus_message_set_auto_start(call, 0);
    if (answer.Result >= 0)
        answer.Result = sd_bus_message_append_basic(call, type, argument);
    if (answer.Result >= 0)
        answer.Result = sd_bus_call(bus, call, Patience, &answer.Error, &answer.Reply);
    sd_bus_message_unref(call);
}

QString Failure(const TAnswer &answer)
{
    if (sd_bus_error_has_name(&answer.Error, SD_BUS_ERROR_NAME_HAS_NO_OWNER))
        return QString("no instance is running: nobody holds %1 on the session bus").arg(RemoteBus::Service);
    return QString("the running instance did not answer: ")
           + (sd_bus_error_is_set(&answer.Error) && answer.Error.message ? answer.Error.message
                                                                         : std::strerror(-answer.Result));
}

// The a{sv} of Properties.GetAll, as far as it holds strings, booleans and numbers.
QVariantMap Properties(sd_bus_message *reply)
{
    QVariantMap properties;
    if (sd_bus_message_enter_container(reply, 'a', "{sv}") <= 0)
        return properties;
    while (sd_bus_message_enter_container(reply, 'e', "sv") > 0) {
        const char *name = nullptr, *contents = nullptr;
        char type = 0;
        if (sd_bus_message_read_basic(reply, 's', &name) < 0 || sd_bus_message_peek_type(reply, nullptr, &contents) < 0
            || sd_bus_message_enter_container(reply, 'v', contents) < 0)
            break;
        sd_bus_message_peek_type(reply, &type, nullptr);
        union { const char *text; int on; double number; } value{};
        if (sd_bus_message_read_basic(reply, type, &value) < 0)
            break;
        properties.insert(name, type == 's' ? QVariant(QString::fromUtf8(value.text))
                                : type == 'b' ? QVariant(value.on != 0)
                                : type == 'd' ? QVariant(value.number) : QVariant());
        sd_bus_message_exit_container(reply);
        sd_bus_message_exit_container(reply);
    }
    return properties;
}
} // namespace

int RunRemoteCommand(const TRemoteCommand &command, const std::function<void(const QString &)> &complain)
{
    QString why;
    // Closed without a flush: each call has had its answer, or has given up on
    // a bus that a flush would wait for up to 90 s more.
    const std::unique_ptr<sd_bus, decltype(&sd_bus_close_unref)> bus(OpenSessionBus({}, why), &sd_bus_close_unref);
    if (!bus) {
        complain("cannot reach a running instance: no session bus (" + why + ")");
        return 1;
    }
    TAnswer all;
    Call(bus.get(), "org.freedesktop.DBus.Properties", "GetAll", 's', RemoteBus::Interface, all);
    if (all.Result < 0) {
        complain(Failure(all));
        return 1;
    }
    const QVariantMap properties = Properties(all.Reply);
    if (command.Kind == TRemoteCommand::rcStatus) {
        const QString status = "state: " + properties.value("State").toString() + "\nlevel: "
                               + QString::number(properties.value("Level").toDouble(), 'f', 1)
                               + " dBFS\nptt: " + properties.value("PttTarget").toString() + "\n";
        std::fputs(status.toLocal8Bit().constData(), stdout);
        return 0;
    }
    const bool mute = command.Kind == TRemoteCommand::rcMute;
    const char *property = mute ? "Mute" : "Tune";
    const int on = command.Switch == TRemoteCommand::rsToggle ? !properties.value(property).toBool()
                                                              : command.Switch == TRemoteCommand::rsOn;
    TAnswer set;
    Call(bus.get(), RemoteBus::Interface, mute ? "SetMute" : "SetTune", 'b', &on, set);
    if (set.Result < 0) {
        complain(Failure(set));
        return 1;
    }
    return 0;
}
