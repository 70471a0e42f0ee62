#include "app/KOTARUnit.h"

#include "ptt/PttPortSetup.h"

#include <QLabel>
#include <QTimer>
#include <cmath>

// The strip at the bottom of the window: where PTT goes, what the VOX is
// doing and the level, at most 10 times a second.

QString StatusText(const TKeyingState &state, const QString &target)
{
    QString doing = state.PttOn ? (state.HangCounter > 0 ? "hanging" : "transmitting")
                                : (state.RelayDown ? "relay down" : "receiving");
    if (state.TimedOut)
        doing = "timed out";
    if (state.Muted)
        doing = "muted";
    if (state.Tune)
        doing = "tune";
    if (state.ReleaseOwed)
        doing += ", release owed";
    const QString level = state.LevelDbfs > -100 ? QString::number(std::lround(state.LevelDbfs)) + " dBFS" : "silent";
    return "PTT " + target + " | " + doing + " | " + level;
}

void TFormPlayer::CreateStatusLine()
{
    StatusLine = new QLabel(this);
    StatusLine->setGeometry(8, 374, 246, 17);
    auto *refresh = new QTimer(this);
    connect(refresh, &QTimer::timeout, this, [this] { StatusLine->setText(StatusText(KeyingState, PttTargetText(FPttTarget))); });
    refresh->start(100);
}
