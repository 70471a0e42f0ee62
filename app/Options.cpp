#include "app/KOTARUnit.h"

#include "app/OptionsDialog.h"
#include "audio/PulseServer.h"
#include "audio/SoundGraph.h"
#include "audio/bass.h"

namespace {
// The server's outputs (sinks) in its order, each marked when its sound would
// reach `source` (the recorded device); none without a server.
QList<TOptionsDialog::TOutput> RelayOutputs(QString source)
{
    QList<TOptionsDialog::TOutput> outputs;
    const std::shared_ptr<TPulseServer> server = SoundServerConnection();
    if (!server)
        return outputs;
    const auto devices = server->Devices();
    if (source.isEmpty())
        source = QString::fromStdString(devices->DefaultSource);
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; BASS_GetDeviceInfo(n, &info); ++n)
        outputs.append({info.driver, info.name,
                        !SoundGraph::LoopPath(*devices, info.driver.toStdString(), source.toStdString()).empty()});
    return outputs;
}
} // namespace

// OK stores the values, applies them and writes the configuration as COM
// Settings does; Cancel leaves everything, the file included, as it was.
void TFormPlayer::OptionsClick()
{
    TOptionsDialog dialog({TxTimeout, AttackByBlock, RelayOutput, RelayLead}, RelayOutputs(CaptureStatus().Device), this);
    if (dialog.exec() != QDialog::Accepted)
        return;
    const TOptionsDialog::TValues values = dialog.Values();
    // The attack is the capture's record callback and the relay is fed by it:
    // a fresh capture of the same device takes the new ones.
    const bool restart = values.AttackByBlock != AttackByBlock || values.RelayOutput != RelayOutput
                         || values.RelayLead != RelayLead;
    TxTimeout = values.Timeout;
    ApplyKeyingSettings();
    AttackByBlock = values.AttackByBlock;
    RelayOutput = values.RelayOutput;
    RelayLead = values.RelayLead;
    if (restart && CaptureSetUp)
        CaptureChannel = SetupBASS(CurrentDevice);
    WriteINI();
}
