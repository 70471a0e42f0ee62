#include "app/KOTARUnit.h"

#include "support/ErrorReport.h"
#include "support/LEDButton.h"
#include "support/Timer.h"
#include "support/TrackBar.h"

#include <QRadioButton>

void TFormPlayer::ConnectHandlers()
{
    TimerRender->OnTimer = [this] { TimerRenderTimer(); };
    TimerBlink->OnTimer = [this] { TimerBlinkTimer(); };
    SquelchTrack->ValueTip = [this] { return SquelchTip(); };
    TrackDelay->ValueTip = [this] { return DelayTip(); };

    const auto onClick = [this](QAbstractButton *button, void (TFormPlayer::*handler)()) {
        connect(button, &QAbstractButton::clicked, this, [this, handler] { ErrorReport::Guarded([&] { (this->*handler)(); }); });
    };
    onClick(LEDMuteButton, &TFormPlayer::LEDMuteButtonClick);
    onClick(TuneButton, &TFormPlayer::TuneButtonClick);

    // A mode's handler runs when its button becomes selected, by the user or
    // by the program, but not while start-up applies the configured mode.
    const auto onSelect = [this](QRadioButton *button, void (TFormPlayer::*handler)()) {
        connect(button, &QRadioButton::toggled, this, [this, handler](bool checked) {
            if (!checked || FApplyingConfiguration)
                return;
            // The user's choice, or the program's: no mode kept any more.
            DropKeptMode();
            ErrorReport::Guarded([&] { (this->*handler)(); });
        });
    };
    onSelect(PTT_Serial, &TFormPlayer::PTT_SerialClick);
    onSelect(PTT_OmniRig, &TFormPlayer::PTT_OmniRigClick);
    onSelect(PTT_None, &TFormPlayer::PTT_NoneClick);
    // Choosing a rig, by its button or a menu, releases the rig being left.
    for (QRadioButton *rig : {Rig1RadioButton, Rig2RadioButton})
        connect(rig, &QRadioButton::toggled, this, [this](bool checked) {
            if (checked)
                UpdatePttOutput();
        });
}
