#include "app/KOTARUnit.h"

#include "audio/BlockAttack.h"
#include "audio/CaptureLevel.h"
#include "audio/spectrum_vis.h"
#include "support/TrackBar.h"

namespace {
// Captured data reach the program only through the FFT request.
bool RecordCallback(HRECORD, const void *, uint32_t, void *) { return true; }
} // namespace

RECORDPROC TFormPlayer::RecordProcedure(std::shared_ptr<void> *user)
{
    user->reset();
    // A relay keys at the first loud block, whatever ATTACK says: the head of
    // the sound is then still in the delay when PTT rises.
    if (!AttackByBlock && !FRelay) {
        // An attack kept from before lets go of a relay switched off, which
        // would otherwise play on and report from the server's thread.
        if (FBlockAttack)
            FBlockAttack->SetRelay({});
        return RecordCallback;
    }
    if (!FBlockAttack) {
        FBlockAttack = std::make_shared<TBlockAttack>(Keying->Core(), Spectrum->BinStep, SquelchTrack->Position());
        connect(SquelchTrack, &QSlider::valueChanged, this,
                [attack = FBlockAttack](int position) { attack->SetSquelch(position); });
    }
    FBlockAttack->SetRelay(FRelay);
    *user = FBlockAttack;
    return TBlockAttack::Proc;
}

void TFormPlayer::UpdateLevelSource(HRECORD handle)
{
    Keying->Post([source = CaptureLevelSource(handle, Spectrum->BinStep)](TKeyingCore &core) {
        core.SetLevelSource(source);
    });
}
