#include "app/KOTARUnit.h"

#include "audio/Relay.h"
#include "audio/TxSink.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"

#include <QPointer>

void TFormPlayer::EnsureTxSink()
{
    const std::shared_ptr<TPulseServer> server = RelayOutput.isEmpty() ? nullptr : SoundServerConnection();
    if (!server)
        return;
    TPulseServer::TLock lock(*server);
    const std::string failure = TxSink::Ensure(*server);
    if (!failure.empty())
        TraceLog.Write(1, QString("Relay: sink ") + TxSink::Name + " not loaded (" + QString::fromStdString(failure)
                              + ")");
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
            QMetaObject::invokeMethod(
                form,
                [form, line = QString::fromStdString(text), report] {
                    if (!form)
                        return;
                    form->TraceLog.Write(1, line);
                    if (report)
                        ErrorReport::Show(Exception(line));
                },
                Qt::QueuedConnection);
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
