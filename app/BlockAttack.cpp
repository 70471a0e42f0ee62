#include "app/KOTARUnit.h"

#include "app/SignalLevel.h"
#include "audio/Relay.h"
#include "audio/spectrum_vis.h"
#include "support/ErrorReport.h"
#include "support/LEDButton.h"
#include "support/TrackBar.h"

#include <QCoreApplication>
#include <QPointer>
#include <atomic>
#include <memory>

// ATTACK=BLOCK: the capture thread measures every block as the render tick
// would (the same level of the latest 1024 samples) and a block at or above the
// squelch has the user-interface thread run the keying steps at once, instead
// of waiting up to one 33 ms tick. The tick itself, the spectrum and the shown
// level are unchanged.
struct TBlockAttack : std::enable_shared_from_this<TBlockAttack> {
    TBlockAttack(TFormPlayer *form, int binStep, int squelch) : Form(form), BinStep(binStep), Squelch(squelch) {}

    // Looked at on the window's thread only.
    QPointer<TFormPlayer> Form;
    int BinStep;
    // The squelch position, kept for the capture thread.
    std::atomic<int> Squelch;
    // One keying call waits in the event loop at most: blocks come every 5 ms.
    std::atomic<bool> Pending{false};
    // With RELAY: fed every block, told of every loud one. Set only while no
    // capture runs.
    std::shared_ptr<TRelay> Relay;

    static bool Proc(HRECORD handle, const void *buffer, uint32_t length, void *user)
    {
        auto *attack = static_cast<TBlockAttack *>(user);
        if (attack->Relay)
            attack->Relay->Feed(static_cast<const float *>(buffer), length, 2);
        float frame[513];
        BASS_ChannelGetData(handle, frame, BASS_DATA_FFT1024);
        const bool loud = SignalLevel(frame, attack->BinStep) >= uint32_t(attack->Squelch.load());
        if (loud && attack->Relay)
            attack->Relay->Loud();
        if (loud && !attack->Pending.exchange(true))
            // Queued to the window: a call still waiting when it goes is dropped.
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [attack = attack->shared_from_this()] {
                    attack->Pending = false;
                    TFormPlayer *form = attack->Form;
                    // A block queued before the capture ended (the window
                    // closing) must not key what the close has released.
                    if (!form || BASS_ChannelIsActive(form->CaptureChannel) != BASS_ACTIVE_PLAYING || !form->VoxArmed()
                        || form->CaptureStalled())
                        return;
                    // Reported as a failing render tick's error is: after
                    // the call, with the timers running.
                    try {
                        form->KeyBySquelch();
                    } catch (const std::exception &error) {
                        ErrorReport::ShowLater(error);
                    }
                },
                Qt::QueuedConnection);
        return true;
    }
};

namespace {
// Captured data reach the program only through the FFT request.
bool RecordCallback(HRECORD, const void *, uint32_t, void *) { return true; }
} // namespace

RECORDPROC TFormPlayer::RecordProcedure(std::shared_ptr<void> *user)
{
    user->reset();
    // A relay keys at the first loud block, whatever ATTACK says: the head of
    // the sound is then still in the delay when PTT rises.
    if (!AttackByBlock && !FRelay)
        return RecordCallback;
    if (!FBlockAttack) {
        FBlockAttack = std::make_shared<TBlockAttack>(this, Spectrum->BinStep, SquelchTrack->Position());
        connect(SquelchTrack, &QSlider::valueChanged, this, [attack = FBlockAttack.get()](int position) {
            attack->Squelch = position;
        });
    }
    FBlockAttack->Relay = FRelay;
    *user = FBlockAttack;
    return TBlockAttack::Proc;
}
