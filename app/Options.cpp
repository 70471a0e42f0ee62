#include "app/KOTARUnit.h"

#include "app/OptionsDialog.h"
#include "audio/bass.h"

namespace {
// The server's outputs (sinks) in its order; none without a server.
QList<TOptionsDialog::TOutput> RelayOutputs()
{
    QList<TOptionsDialog::TOutput> outputs;
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; BASS_GetDeviceInfo(n, &info); ++n)
        outputs.append({info.driver, info.name});
    return outputs;
}
} // namespace

// OK stores the values, applies them and writes the configuration as COM
// Settings does; Cancel leaves everything, the file included, as it was.
void TFormPlayer::OptionsClick()
{
    TOptionsDialog dialog({TxTimeout, AttackByBlock, RelayOutput, RelayLead}, RelayOutputs(), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TOptionsDialog::TValues values = dialog.Values();
    const bool attackChanged = values.AttackByBlock != AttackByBlock;
    TxTimeout = values.Timeout;
    AttackByBlock = values.AttackByBlock;
    RelayOutput = values.RelayOutput;
    RelayLead = values.RelayLead;
    // The attack is the capture's record callback: a fresh capture of the
    // same device takes the new one.
    if (attackChanged && CaptureSetUp)
        CaptureChannel = SetupBASS(CurrentDevice);
    WriteINI();
}
