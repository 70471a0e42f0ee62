#include "app/KOTARUnit.h"

#include "audio/bass.h"
#include "support/HexStr.h"

#include <QComboBox>
#include <QLineEdit>
#include <QPointer>

namespace {

// At most devices 0 to 32 are listed; the listing stops at the first gap.
constexpr uint32_t LastListedDevice = 32;

QString DeviceLine(uint32_t number, const BASS_DEVICEINFO &info)
{
    return "(" + QString::number(number) + ") rc(" + BoolToText(true) + ") Name(" + info.name + ") flags("
           + QString::number(info.flags) + ")";
}

// Selects an entry, or none for -1. Qt empties the edit field whenever it is
// told to select none; the box's own rule is to do so only when an entry was
// selected, so that typed text stays.
void SelectEntry(QComboBox *box, int index)
{
    if (box->currentIndex() != index)
        box->setCurrentIndex(index);
}

} // namespace

uint32_t TFormPlayer::SetupBASS(int device, bool configured)
{
    const bool first = !CaptureSetUp;
    configured = configured || first;
    if (CaptureSetUp) {
        BASS_ChannelStop(CaptureChannel);
        BASS_Stop();
        BASS_RecordFree();
    }
    CaptureSetUp = true;
    if (first)
        SetRecordDeviceNotify([form = QPointer<TFormPlayer>(this)](const TRecordDeviceEvent &event) {
            if (!form)
                return;
            form->RecordDeviceChange(event);
            // Nothing was captured (a start before the server answered, or
            // without one): the configured device opens now, as it would have
            // at start-up. A relay plays on the connection it was made on: the
            // capture feeding it starts afresh with it on the new one.
            if ((event.Kind == TRecordDeviceEvent::ServerBack || event.Kind == TRecordDeviceEvent::ServerReady)
                && (!form->CaptureChannel || !form->RelayOutput.isEmpty()))
                form->CaptureChannel = form->SetupBASS(form->CurrentDevice, true);
        });

    EnsureTxSink();
    TraceLog.Write(1, "Listing System sound recording devices");
    const QStringList sources = ListRecordDevices(true);

    // The configured source's name finds it wherever others have moved it.
    const qsizetype named = DeviceName.isEmpty() ? -1 : sources.indexOf(DeviceName);
    if (configured && named >= 0 && named != device) {
        device = int(named);
        TraceLog.Write(1, "BASSSetup: Device(" + QString::number(device) + ") found by name(" + DeviceName + ")");
        CurrentDevice = device;
    }
    // An absent one is waited for: its number now names another device, and
    // no entry stands for it until it comes.
    const bool waiting = configured && !DeviceName.isEmpty() && named < 0;
    if (waiting) {
        device = CurrentDevice = int(sources.size());
        TraceLog.Write(1, "BASSSetup: Device(" + DeviceName
                              + ") not present: nothing is captured until it appears");
    }

    BASS_SetConfig(BASS_CONFIG_FLOATDSP, 1);
    if (waiting)
        RecordInitSource(DeviceName);
    else
        BASS_RecordInit(device);
    StartRelay(waiting ? DeviceName : device >= 0 && device < sources.size() ? sources[device] : QString());
    std::shared_ptr<void> user;
    const RECORDPROC procedure = RecordProcedure(&user);
    const HRECORD handle = BASS_RecordStart(44100, 2, 0, procedure, std::move(user));

    // Only the user's choice names another source.
    if (device == -1)
        DeviceName.clear();
    else if (!waiting && device >= 0 && device < sources.size())
        DeviceName = sources[device];
    // The box shows the device opened, also right after start-up.
    if (device >= 0 && device < ComboSoundCard->count())
        SelectEntry(ComboSoundCard, device);

    const QString name = GetRecordInfo(device);
    TraceLog.Write(1, "BASSSetup: Device(" + QString::number(device) + ") initialized Device(" + name + ")");
    // The window says why nothing is captured: without a capture the spectrum
    // stays black, and the lines above go only to the trace.
    if (handle != 0 && waiting)
        ShowCaptureState("Waiting for " + DeviceName);
    else if (handle != 0)
        ShowCaptureState(QString());
    else if (SoundServerState() == ssConnecting)
        ShowCaptureState("Connecting to the sound server");
    else if (SoundServerState() == ssAbsent)
        ShowCaptureState("No sound server");
    else
        ShowCaptureState("No sound device " + (name.isEmpty() ? DeviceName : name));
    UpdateLevelSource(handle);
    return handle;
}

QStringList TFormPlayer::ListRecordDevices(bool trace)
{
    QStringList names, sources;
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; n <= LastListedDevice && BASS_RecordGetDeviceInfo(n, &info); ++n) {
        names << info.name;
        sources << info.driver;
        if (trace)
            TraceLog.Write(1, "Device" + DeviceLine(n, info));
    }
    FillSoundCardBox(names, sources);
    return sources;
}

void TFormPlayer::FillSoundCardBox(const QStringList &names, const QStringList &sources)
{
    // New entries, none selected, the typed text kept: an empty box would
    // select its first new entry and show that.
    const QString text = ComboSoundCard->currentText();
    ComboSoundCard->clear();
    for (qsizetype i = 0; i < names.size(); ++i)
        ComboSoundCard->addItem(names[i], sources.value(i));
    ComboSoundCard->setCurrentIndex(-1);
    ComboSoundCard->setEditText(text);
}

// A number the library does not know (a configured device that has gone) has no
// name: it yields the empty text, and its trace line says so with an empty name,
// as the device box would show it.
QString TFormPlayer::GetRecordInfo(int device)
{
    if (device == -1)
        return "Default";
    BASS_DEVICEINFO info;
    if (device < 0 || !BASS_RecordGetDeviceInfo(uint32_t(device), &info))
        info.name.clear();
    TraceLog.Write(1, "SoundDevice(" + QString::number(device) + ") is device(" + info.name + ")");
    return info.name;
}

void TFormPlayer::ComboSoundCardChange()
{
    for (int i = 0; i < ComboSoundCard->count(); ++i)
        TraceLog.Write(1, "ComboSoundCardChange: ComboList[" + QString::number(i) + ") Device("
                              + ComboSoundCard->itemText(i) + ")");
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; n <= LastListedDevice && BASS_RecordGetDeviceInfo(n, &info); ++n)
        TraceLog.Write(1, "ComboSoundCardChange: SoundDevice" + DeviceLine(n, info));

    const int itemIndex = ComboSoundCard->currentIndex();
    TraceLog.Write(1, "ComboSoundCardChange: ItemIndex[" + QString::number(itemIndex) + ")");
    int device;
    if (itemIndex == -1) {
        device = -1;
        TraceLog.Write(1, "ComboSoundCardChange: ItemIndex -1 Default device assigned");
    } else {
        device = itemIndex;
        TraceLog.Write(1, "ComboSoundCardChange: ItemIndex(" + QString::number(itemIndex) + ") assigned device("
                              + QString::number(device) + ")");
    }
    TraceLog.Write(1, "ComboSoundCardChange: Assigned dwSoundCard[" + QString::number(device) + ") Current Device("
                          + QString::number(CurrentDevice) + ")");

    const QString name = GetRecordInfo(device);
    if (device == CurrentDevice) {
        TraceLog.Write(1, "Card(" + QString::number(device) + ") Name(" + name + ") same as before, not modified");
        SelectEntry(ComboSoundCard, CurrentDevice);
        return;
    }
    TraceLog.Write(1, "Card(" + QString::number(device) + ") Name(" + name + ")");
    CaptureChannel = SetupBASS(device);
    CurrentDevice = device;
    SelectEntry(ComboSoundCard, device);
    TraceLog.Write(1, "Card(" + QString::number(device) + ") Assigned Name(" + name + ")");
}

void TFormPlayer::ComboSoundCardEdited()
{
    // Typed text names no entry: the box then has none selected, as the
    // handler reads it, and the user's text and cursor stay.
    QLineEdit *edit = ComboSoundCard->lineEdit();
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    ComboSoundCard->setCurrentIndex(-1);
    edit->setText(text);
    edit->setCursorPosition(cursor);
    ComboSoundCardChange();
}

QString TFormPlayer::CaptureSoundCard()
{
    QString source = DeviceName;
    BASS_DEVICEINFO info;
    if (source.isEmpty() && CurrentDevice >= 0 && BASS_RecordGetDeviceInfo(uint32_t(CurrentDevice), &info))
        source = info.driver;
    return RecordDeviceCard(source);
}
