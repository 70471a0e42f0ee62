#include "app/KOTARUnit.h"

#include "audio/Relay.h"
#include "audio/TxSink.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QCoreApplication>
#include <QPointer>
#include <chrono>

namespace {
// From the server's thread to the window, if it is still there.
void PostToForm(const QPointer<TFormPlayer> &form, std::function<void(TFormPlayer &)> action)
{
    QMetaObject::invokeMethod(
        QCoreApplication::instance(),
        [form, action = std::move(action)] {
            if (form)
                action(*form);
        },
        Qt::QueuedConnection);
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
    FRelay->SetGate(FPttOn);
}

// With a relay the hang begins once the last loud block has played out at the
// output: it is that moment that counts as the last keying tick. A tick before
// it, or within one period after it, starts the count anew from there; a lead
// shorter than a period (the default) would otherwise come off the hang.
bool TFormPlayer::HoldForRelay()
{
    // Nothing keyed (Mute released it): no sound is relayed to wait for.
    if (!FRelay || !FPttOn)
        return false;
    using namespace std::chrono;
    const auto since = ceil<milliseconds>(steady_clock::now() - FRelay->LoudPlayedOut());
    if (since.count() >= 100)
        return false;
    TrackDelay->SetSelEnd(0);
    // The next tick one period after it has played out.
    TimerDelay->SetInterval(int(100 - since.count()));
    TimerDelay->SetEnabled(true);
    ChangeStateIcon(IconON);
    return true;
}
