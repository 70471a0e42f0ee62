#include "app/KOTARUnit.h"

#include "support/StandardError.h"
#include "support/TrackBar.h"

#include <QComboBox>

namespace {
// The description the box shows for a source, or its server name once the
// entry has gone.
QString Description(const QComboBox *box, const QString &source)
{
    const int entry = box->findData(source);
    return entry >= 0 ? box->itemText(entry) : source;
}

QString Described(const QComboBox *box, const QString &source)
{
    return source + ") Name(" + Description(box, source);
}
} // namespace

void TFormPlayer::RecordDeviceChange(const TRecordDeviceEvent &event)
{
    switch (event.Kind) {
    case TRecordDeviceEvent::Changed: {
        const QStringList sources = ListRecordDevices(false);
        if (CurrentDevice < 0 || DeviceName.isEmpty())
            break;
        // The device in use keeps its entry under its new number. While it is
        // away its number names no entry, so that picking the device now listed
        // under the old number starts a capture there.
        const qsizetype entry = sources.indexOf(DeviceName);
        CurrentDevice = int(entry >= 0 ? entry : sources.size());
        if (entry >= 0)
            ComboSoundCard->setCurrentIndex(CurrentDevice);
        break;
    }
    case TRecordDeviceEvent::Lost:
        // A dropped capture: nothing is measured any more, so the hang runs out
        // and releases PTT.
        SquelchTrack->SetSelEnd(0);
        TraceLog.Write(1, "SoundDevice(" + Described(ComboSoundCard, event.Source) + ") gone (" + event.Reason
                              + "): capture stopped");
        ShowCaptureState("Waiting for " + Description(ComboSoundCard, event.Source));
        break;
    case TRecordDeviceEvent::Resumed:
        TraceLog.Write(1, "SoundDevice(" + Described(ComboSoundCard, event.Source) + ") back: capture resumed");
        break;
    case TRecordDeviceEvent::ServerLost:
        SquelchTrack->SetSelEnd(0);
        TraceLog.Write(1, "Sound server connection lost (" + event.Reason + "): reconnecting every second");
        ShowCaptureState("No sound server: reconnecting");
        break;
    case TRecordDeviceEvent::ServerAbsent: {
        // Without a server nothing is recorded or keyed: the user must learn why.
        const QString what = "sound server (" + event.Reason + "): nothing is recorded";
        TraceLog.Write(1, "No " + what);
        WriteStandardError("no " + what);
        ShowCaptureState("No sound server");
        break;
    }
    case TRecordDeviceEvent::Note: TraceLog.Write(1, event.Reason); break;
    // The set-up that follows traces what it finds.
    case TRecordDeviceEvent::ServerReady: break;
    case TRecordDeviceEvent::ServerBack:
        TraceLog.Write(1, "Sound server connection back"
                              + (event.Source.isEmpty() ? QString()
                                                        : ": capture opened again on SoundDevice("
                                                              + Described(ComboSoundCard, event.Source) + ")"));
        break;
    }
}

bool TFormPlayer::CaptureStalled()
{
    const bool stalled = RecordState(CaptureChannel) == rsStalled;
    if (stalled == FCaptureStalled && !stalled)
        return false;
    QString source;
    RecordState(CaptureChannel, &source);
    if (stalled != FCaptureStalled) {
        FCaptureStalled = stalled;
        TraceLog.Write(1, "SoundDevice(" + Described(ComboSoundCard, source)
                              + (stalled ? ") delivers no data: counted as silence" : ") delivers data again"));
    }
    if (stalled)
        ShowCaptureState("No sound from " + Description(ComboSoundCard, source));
    return stalled;
}

TFormPlayer::TCaptureStatus TFormPlayer::CaptureStatus() const
{
    QString source;
    const TRecordState state = RecordState(CaptureChannel, &source);
    return {state, source.isEmpty() ? DeviceName : source};
}
