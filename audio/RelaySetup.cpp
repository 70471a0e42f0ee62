#include "app/KOTARUnit.h"
#include "support/QueuedCall.h"

#include "audio/Relay.h"
#include "audio/TxSink.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"

#include <QCoreApplication>
#include <QPointer>

namespace {
// From the server's thread to the window, if it is still there.
void PostToForm(const QPointer<TFormPlayer> &form, std::function<void(TFormPlayer &)> action)
{
    QueuedCall::Queue(QCoreApplication::instance(), [form, action = std::move(action)] {
        if (form)
            action(*form);
    });
}
} // namespace

void TFormPlayer::EnsureTxSink()
{
    const std::shared_ptr<TPulseServer> server = RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server)
        return;
    TPulseServer::TLock lock(*server);
    TxSink::Ensure(*server, [form = QPointer<TFormPlayer>(this)](const std::string &why) {
        PostToForm(form, [line = QString("Relay: sink ") + TxSink::Name + " not loaded ("
                                 + QString::fromStdString(why) + ")"](TFormPlayer &form) {
            form.TraceLog.Write(1, line);
        });
    });
}

void TFormPlayer::StartRelay(const QString &source)
{
    const std::shared_ptr<TPulseServer> server = RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server) {
        FRelay.reset();
        Keying->Post([](TKeyingCore &core) { core.SetRelay({}, {}); });
        return;
    }
    if (!FRelay || FRelay->Server() != server) {
        // Reports come from the server's thread; the window shows them.
        const auto post = [form = QPointer<TFormPlayer>(this)](const std::string &text, bool report) {
            PostToForm(form, [line = QString::fromStdString(text), report](TFormPlayer &form) {
                form.TraceLog.Write(1, line);
                if (report)
                    ErrorReport::Show(Exception(line));
            });
        };
        FRelay = std::make_shared<TRelay>(
            server, TRelay::TEvents{[post](const std::string &text) { post(text, true); },
                                    [post](const std::string &text) { post(text, false); }});
    }
    FRelay->SetGate(false);
    TraceLog.Write(1, "Relay to (" + RelayOutput + ") LEAD(" + QString::number(RelayLead) + " ms)");
    FRelay->Start(RelayOutput.toStdString(), RelayLead, source.toStdString());
    // The gate follows PTT, and the hang waits for loud sound still on its way.
    Keying->Post([relay = FRelay](TKeyingCore &core) {
        core.SetRelay([relay](bool open) { relay->SetGate(open); }, [relay] { return relay->LoudPlayedOut(); });
    });
}
