#include "audio/BlockAttack.h"
#include "support/QueuedCall.h"

#include "audio/CaptureLevel.h"
#include "audio/Relay.h"
#include "core/KeyingCore.h"

TBlockAttack::TBlockAttack(TKeyingCore &core, int binStep, int squelch)
    : FCore(core), FBinStep(binStep), FSquelch(squelch)
{
}

bool TBlockAttack::Proc(HRECORD handle, const void *buffer, uint32_t length, void *user)
{
    auto *attack = static_cast<TBlockAttack *>(user);
    const std::shared_ptr<TRelay> relay = attack->FRelay.load();
    if (relay)
        relay->Feed(static_cast<const float *>(buffer), length, 2);
    float frame[513];
    BASS_ChannelGetData(handle, frame, BASS_DATA_FFT1024);
    const bool loud = FrameLevel(frame, attack->FBinStep).Level >= uint32_t(attack->FSquelch.load());
    if (loud && relay)
        relay->Loud();
    if (loud && !attack->FPending.exchange(true))
        QueuedCall::Queue(&attack->FCore, [attack, handle] {
            attack->FPending = false;
            // A block queued before the capture ended (the program closing)
            // must not key what the close has released.
            if (BASS_ChannelIsActive(handle) == BASS_ACTIVE_PLAYING && RecordState(handle) != rsStalled)
                attack->FCore.KeyByBlock();
        });
    return true;
}
