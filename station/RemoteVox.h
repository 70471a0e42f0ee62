#pragma once
#include <QObject>
#include <QString>

// What a running VOX offers remote control. Implemented over the keying core by each program.
class TRemoteVox : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
    // "idle", "keyed", "hanging", "muted", "tune" or "timeout".
    virtual QString State() const = 0;
    // The level of the latest capture frame in dBFS (a full-scale sine reads 0); -inf/very low when silent.
    virtual double LevelDbfs() const = 0;
    virtual bool Muted() const = 0;
    virtual bool Tune() const = 0;
    // Where PTT goes: "/dev/ttyUSB0 DTR+RTS", "CM108 /dev/hidraw0", "rigctld 127.0.0.1:4532", "none".
    virtual QString PttTarget() const = 0;
    virtual void SetMuted(bool on) = 0;
    virtual void SetTune(bool on) = 0;
signals:
    // Any of the above changed (emitted on the object's thread).
    void Changed();
};
