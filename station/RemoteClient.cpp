#include "station/RemoteClient.h"

#include "station/RemoteBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <cstdio>

namespace {
// A hotkey must not hang on an instance that does not answer.
const int Patience = 3000;

QDBusMessage Call(const QDBusConnection &bus, const QString &interface, const QString &method,
                  const QVariantList &arguments)
{
    QDBusMessage call = QDBusMessage::createMethodCall(RemoteBus::Service, RemoteBus::Path, interface, method);
    call.setArguments(arguments);
    // A name nobody holds is an answer, not something to start.
    call.setAutoStartService(false);
    return bus.call(call, QDBus::Block, Patience);
}

QString Failure(const QDBusMessage &answer)
{
    if (answer.errorName() == "org.freedesktop.DBus.Error.NameHasNoOwner")
        return QString("no instance is running: nobody holds %1 on the session bus").arg(RemoteBus::Service);
    return "the running instance did not answer: " + answer.errorMessage();
}
} // namespace

int RunRemoteCommand(const TRemoteCommand &command, const std::function<void(const QString &)> &complain)
{
    const QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        complain("cannot reach a running instance: no session bus (" + bus.lastError().message() + ")");
        return 1;
    }
    const QDBusMessage all =
        Call(bus, "org.freedesktop.DBus.Properties", "GetAll", {QString(RemoteBus::Interface)});
    if (all.type() != QDBusMessage::ReplyMessage) {
        complain(Failure(all));
        return 1;
    }
    const QVariantMap properties = qdbus_cast<QVariantMap>(all.arguments().value(0));
    if (command.Kind == TRemoteCommand::rcStatus) {
        const QString status = "state: " + properties.value("State").toString() + "\nlevel: "
                               + QString::number(properties.value("Level").toDouble(), 'f', 1)
                               + " dBFS\nptt: " + properties.value("PttTarget").toString() + "\n";
        std::fputs(status.toLocal8Bit().constData(), stdout);
        return 0;
    }
    const QString property = command.Kind == TRemoteCommand::rcMute ? "Mute" : "Tune";
    const bool on = command.Switch == TRemoteCommand::rsToggle ? !properties.value(property).toBool()
                                                              : command.Switch == TRemoteCommand::rsOn;
    const QDBusMessage set = Call(bus, RemoteBus::Interface, "Set" + property, {on});
    if (set.type() != QDBusMessage::ReplyMessage) {
        complain(Failure(set));
        return 1;
    }
    return 0;
}
