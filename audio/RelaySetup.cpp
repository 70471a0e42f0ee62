#include "app/KOTARUnit.h"
#include "support/QueuedCall.h"

#include "audio/Relay.h"
#include "audio/RelayLink.h"
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

// Reports from the server's thread, for the window to show (Fault) or trace.
template <class TEvents> TEvents PostedEvents(TFormPlayer *form)
{
    const auto post = [form = QPointer<TFormPlayer>(form)](const std::string &text, bool report) {
        PostToForm(form, [line = QString::fromStdString(text), report](TFormPlayer &form) {
            form.TraceLog.Write(1, line);
            if (report)
                ErrorReport::Show(Exception(line));
        });
    };
    return {[post](const std::string &text) { post(text, true); },
            [post](const std::string &text) { post(text, false); }};
}
} // namespace

void TFormPlayer::EnsureTxSink()
{
    const std::shared_ptr<TPulseServer> server = RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server)
        return;
    if (!FTxSink)
        FTxSink = std::make_shared<TTxSink>(PostedEvents<TTxSink::TEvents>(this));
    TPulseServer::TLock lock(*server);
    FTxSink->Ensure(*server);
}

void TFormPlayer::HushRelay()
{
    if (FRelay)
        FRelay->Hush();
}

void TFormPlayer::StartRelay(const QString &source)
{
    const std::shared_ptr<TPulseServer> server = RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server) {
        FRelay.reset();
        Keying->Post([](TKeyingCore &core) { core.SetRelay({}); });
        return;
    }
    if (!FRelay || FRelay->Server() != server)
        FRelay = std::make_shared<TRelay>(server, PostedEvents<TRelay::TEvents>(this));
    TraceLog.Write(1, "Relay to (" + RelayOutput + ") LEAD(" + QString::number(RelayLead) + " ms)");
    FRelay->Start(RelayOutput.toStdString(), RelayLead, source.toStdString());
    // The gate follows PTT, and the hang waits for loud sound still on its way.
    Keying->Post([relay = FRelay](TKeyingCore &core) {
        core.SetRelay(RelayLink(relay));
    });
}
