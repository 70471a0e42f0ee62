#include "app/KOTARUnit.h"

#include "audio/CaptureLevel.h"
#include "audio/Relay.h"
#include "audio/spectrum_vis.h"
#include "support/TrackBar.h"

#include <atomic>
#include <memory>

// ATTACK=BLOCK: the capture thread measures every block as the render tick
// would (the same level of the latest 1024 samples) and a block at or above the
// squelch has the keying core key at once, instead of waiting up to one 33 ms
// tick. The tick itself, the spectrum and the shown level are unchanged.
struct TBlockAttack {
    // Outlives every capture that calls it: the window stops the capture
    // before the core goes.
    TKeyingCore *Core;
    int BinStep;
    // The squelch position, kept for the capture thread.
    std::atomic<int> Squelch;
    // One keying call waits in the core's queue at most: blocks come every 5 ms.
    std::atomic<bool> Pending{false};
    // With RELAY: fed every block, told of every loud one. Owned here as
    // long as a capture may feed it.
    std::atomic<std::shared_ptr<TRelay>> Relay;

    static bool Proc(HRECORD handle, const void *buffer, uint32_t length, void *user)
    {
        auto *attack = static_cast<TBlockAttack *>(user);
        const std::shared_ptr<TRelay> relay = attack->Relay.load();
        if (relay)
            relay->Feed(static_cast<const float *>(buffer), length, 2);
        float frame[513];
        BASS_ChannelGetData(handle, frame, BASS_DATA_FFT1024);
        const bool loud = FrameLevel(frame, attack->BinStep).Level >= uint32_t(attack->Squelch.load());
        if (loud && relay)
            relay->Loud();
        if (loud && !attack->Pending.exchange(true))
            QMetaObject::invokeMethod(
                attack->Core,
                [attack, handle] {
                    attack->Pending = false;
                    // A block queued before the capture ended (the window
                    // closing) must not key what the close has released.
                    if (BASS_ChannelIsActive(handle) == BASS_ACTIVE_PLAYING && RecordState(handle) != rsStalled)
                        attack->Core->KeyByBlock();
                },
                Qt::QueuedConnection);
        return true;
    }
};

namespace {
// Captured data reach the program only through the FFT request.
bool RecordCallback(HRECORD, const void *, uint32_t, void *) { return true; }
} // namespace

RECORDPROC TFormPlayer::RecordProcedure(void **user)
{
    *user = nullptr;
    // A relay keys at the first loud block, whatever ATTACK says: the head of
    // the sound is then still in the delay when PTT rises.
    if (!AttackByBlock && !FRelay)
        return RecordCallback;
    if (!FBlockAttack) {
        FBlockAttack = std::make_shared<TBlockAttack>(&Keying->Core(), Spectrum->BinStep, SquelchTrack->Position());
        connect(SquelchTrack, &QSlider::valueChanged, this, [attack = FBlockAttack](int position) {
            attack->Squelch = position;
        });
    }
    FBlockAttack->Relay = FRelay;
    *user = FBlockAttack.get();
    return TBlockAttack::Proc;
}

void TFormPlayer::UpdateLevelSource(HRECORD handle)
{
    Keying->Post([source = CaptureLevelSource(handle, Spectrum->BinStep)](TKeyingCore &core) {
        core.SetLevelSource(source);
    });
}
