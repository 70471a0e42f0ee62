#pragma once
#include <QMetaType>
#include <cstdint>

// The state icon the engine asks for.
enum class TStateIcon { Idle, Mute, Off, On, TimeOut };

// What the keying core shows: a snapshot sent to its views after every step.
struct TKeyingState {
    bool Muted = false;
    bool Tune = false;
    // The last PTT command was on.
    bool PttOn = false;
    // The hang is being counted (the delay timer of the window runs).
    bool Hanging = false;
    // Milliseconds of hang counted so far, in 100 ms steps; 0 while keyed or idle.
    int HangCounter = 0;
    bool TimedOut = false;
    // An output refused its release and is being asked again.
    bool ReleaseOwed = false;
    // The relay cannot deliver: the VOX keys nothing.
    bool RelayDown = false;
    // The level of the last measured frame, and the same frame's strongest bin
    // in dBFS (a full-scale sine reads 0).
    uint32_t Level = 0;
    double LevelDbfs = -200;
    // The icon asked for last; IconSerial counts the requests, so that a view
    // shows it again after the blink has shown another.
    TStateIcon Icon = TStateIcon::Idle;
    uint64_t IconSerial = 0;
};
Q_DECLARE_METATYPE(TKeyingState)
