#pragma once
#include "station/SessionBus.h"

#include <QObject>
#include <QTimer>
#include <QString>
#include <functional>

class TRemoteVox;

// Publishes a running VOX on the session bus: the name io.github.kotarplus.kotarplus
// with the object /io/github/kotarplus/kotarplus, interface
// io.github.kotarplus.kotarplus.Vox: read-only properties State (s), Level (d,
// dBFS), Mute (b), Tune (b) and PttTarget (s), announced with
// org.freedesktop.DBus.Properties.PropertiesChanged (Level at most 10 times a
// second), and the methods SetMute(b) and SetTune(b).
//
// Remote control is an extra: when it cannot be had (no session bus, the name
// held by another instance) the program runs on without it, told once through
// say. Lives on the thread of vox, which outlives it.
class TRemoteControl : public QObject {
    Q_OBJECT
public:
    using TSay = std::function<void(const QString &line)>;

    // busAddress: empty in the programs (the user's session bus); a private
    // bus's in tests.
    TRemoteControl(TRemoteVox &vox, const QString &busAddress, const TSay &say, QObject *parent = nullptr);
    ~TRemoteControl() override;

private:
    void Publish(const TSay &say);
    // The bus's answer to the name request.
    static int Named(sd_bus_message *reply, void *self, sd_bus_error *);
    void Announce();
    // The properties but Level, which has a pace of its own.
    struct TSettled {
        QString State;
        bool Mute = false;
        bool Tune = false;
        QString PttTarget;
    };
    TSettled Settled() const;

    TRemoteVox &FVox;
    TSessionBus FBus;
    sd_bus_slot *FObject = nullptr;
    sd_bus_slot *FRequest = nullptr;  // the name request, until this goes
    TSay FSay;
    // What clients were last told.
    TSettled FAnnounced;
    double FAnnouncedLevel = 0;
    QTimer FLevelHold;  // running while a new Level must wait
};
