#include "app/KOTARUnit.h"

#include "station/CoreVox.h"
#include "station/RemoteControl.h"

#include "app/StateIcons.h"
#include "audio/bass.h"
#include "audio/spectrum_vis.h"
#include "support/ElidingRadioButton.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/LEDButton.h"
#include "support/Led1.h"
#include "support/PaintBox.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QCoreApplication>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

namespace {
template <class T, class... A> T *Place(QWidget *parent, int left, int top, int width, int height, A &&...args)
{
    auto *control = new T(std::forward<A>(args)..., parent);
    control->setGeometry(left, top, width, height);
    return control;
}

QFont BoldFont(const QWidget *from)
{
    QFont font = from->font();
    font.setBold(true);
    return font;
}

// A caption at (left, top) that ends before the control it names, which
// starts at controlLeft: a text wider than the room moves left.
QLabel *PlaceCaption(QWidget *parent, const QString &text, int left, int top, int controlLeft)
{
    auto *label = new QLabel(text, parent);
    label->adjustSize();
    constexpr int gap = 2;
    label->move(std::max(0, std::min(left, controlLeft - gap - label->width())), top);
    return label;
}

TLEDButton *PlaceLEDButton(QWidget *parent, int left, int top, const QString &caption)
{
    auto *button = Place<TLEDButton>(parent, left, top, 105, 33);
    button->setText(caption);
    button->setFont(BoldFont(parent));
    button->SetLEDColor1(clGreen);
    button->SetLEDColor2(clLime);
    button->SetLEDOffColor1(clBlack);
    button->SetLEDOffColor2(clGreen);
    button->SetLEDOn(false);
    return button;
}
} // namespace

TFormPlayer::TFormPlayer(const QStringList &arguments, QWidget *parent)
    : QWidget(parent), FArguments(arguments)
{
    // Every event loop ends, a nested one (a dialog's) too, and an exit waits
    // for the main loop should it not run yet (quit would close the windows
    // again); the program then ends through main, its window and threads
    // destroyed in order.
    Terminate = [] {
        QCoreApplication::exit(0);
        QMetaObject::invokeMethod(qApp, [] { QCoreApplication::exit(0); }, Qt::QueuedConnection);
    };
    CapturedSoundCard = [this] { return CaptureSoundCard(); };
    CreateControls();
    CreateKeying();
    CreateStatusLine();
    ConnectHandlers();
    // Like any handler, start-up reports what it raises; the window stays.
    ErrorReport::Guarded([this] { FormCreate(); });
}

// The window owns the capture: no capture thread outlives it. Nor does it
// leave a transmitter keyed when it goes without being closed.
TFormPlayer::~TFormPlayer()
{
    // Gone without being closed: what may be keyed is released.
    HushRelay();
    Keying->Stop(ReleasePatience, false);
    BASS_Free();
    FRemote.reset();
    FVox.reset();
    Keying.reset();
}

void TFormPlayer::CreateControls()
{
    setWindowTitle("KotarPlus 1.0");
    setWindowIcon(LoadIconResource("kotar_MAIN"));
    QFont font = this->font();
    font.setPointSize(8);
    setFont(font);
    // The client area of a 270 x 424 window with a caption and sizing frame.
    resize(262, 397);
    move(406, 204);

    PaintFrame = Place<TPaintBox>(this, 52, 8, 161, 105, clBlack);

    Label1 = PlaceCaption(this, "Squelch", 28, 128, 68);
    SquelchTrack = Place<TTrackBar>(this, 68, 120, 169, 33);
    SquelchTrack->setRange(0, 10);
    SquelchTrack->setTickInterval(1);
    SquelchTrack->setSingleStep(1);
    SquelchTrack->setPageStep(2);

    Label2 = PlaceCaption(this, "Delay", 28, 168, 68);
    TrackDelay = Place<TTrackBar>(this, 68, 160, 169, 33);
    TrackDelay->setRange(0, 5000);
    TrackDelay->setTickInterval(100);
    TrackDelay->setSingleStep(1);
    TrackDelay->setPageStep(2);

    Label3 = PlaceCaption(this, "Sound", 28, 210, 76);
    ComboSoundCard = Place<QComboBox>(this, 76, 208, 153, 21);
    ComboSoundCard->setEditable(true);
    ComboSoundCard->setInsertPolicy(QComboBox::NoInsert);
    ComboSoundCard->setEditText("Default");
    // Only the user's changes reach the handler, never the program's own.
    connect(ComboSoundCard, &QComboBox::activated, this,
            [this] { ErrorReport::Guarded([this] { ComboSoundCardChange(); }); });
    connect(ComboSoundCard->lineEdit(), &QLineEdit::textEdited, this,
            [this] { ErrorReport::Guarded([this] { ComboSoundCardEdited(); }); });

    PTTMode = Place<QGroupBox>(this, 31, 240, 111, 81, "PTT Mode");
    PTT_None = Place<QRadioButton>(PTTMode, 7, 16, 81, 17, "PTT_None");
    PTT_Serial = Place<QRadioButton>(PTTMode, 7, 31, 82, 17, "Serial Port");
    PTT_Printer = Place<QRadioButton>(PTTMode, 7, 46, 81, 17, "Printer Port");
    PTT_OmniRig = Place<QRadioButton>(PTTMode, 7, 62, 74, 17, "OmniRig");
    PTT_OmniRig->setChecked(true);

    RigGroupBox = Place<QGroupBox>(this, 154, 240, 73, 57, "Rig to PTT");
    // Their captions become the rigs' types, often wider than the box.
    Rig1RadioButton = Place<TElidingRadioButton>(RigGroupBox, 3, 14, 64, 17, "Rig1");
    Rig2RadioButton = Place<TElidingRadioButton>(RigGroupBox, 3, 31, 64, 17, "Rig2");
    Rig1RadioButton->setChecked(true);

    VOXLed = Place<TLed>(this, 154, 304, 73, 17);
    VOXLed->SetStyle(lsGradient2);
    VOXLed->SetColor1(clGreen);
    VOXLed->SetColor2(clLime);
    VOXLed->SetOffColor1(clBlack);
    VOXLed->SetOffColor2(clGreen);
    VOXLed->SetRadius(1);
    VOXLed->SetOn(false);
    VOXLed->SetClickAction(false);
    VOXLed->SetDblClickAction(false);
    LEDMuteButton = PlaceLEDButton(this, 16, 334, "Mute");
    TuneButton = PlaceLEDButton(this, 136, 334, "Tune");

    setTabOrder(SquelchTrack, TrackDelay);
    setTabOrder(TrackDelay, ComboSoundCard);
    setTabOrder(ComboSoundCard, PTTMode);
    setTabOrder(PTTMode, LEDMuteButton);
    setTabOrder(LEDMuteButton, RigGroupBox);
    setTabOrder(RigGroupBox, TuneButton);

    TimerRender = new TTimer(this, 33, true);
    TimerBlink = new TTimer(this, 1000, true);
}

void TFormPlayer::ClearPTTMode()
{
    for (QRadioButton *button : {PTT_Serial, PTT_Printer, PTT_OmniRig, PTT_None}) {
        button->setAutoExclusive(false);
        button->setChecked(false);
        button->setAutoExclusive(true);
    }
}
