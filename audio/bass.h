#pragma once
#include <QString>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>

// The audio library: the recording side and a channel's FFT, over the sound
// server's client library (libpulse). Recording devices are the server's
// sources, monitors included, numbered from 0 in the server's order; -1 is the
// server's default source. One recording device is initialised and one capture
// runs at a time. All calls belong to the user-interface thread, except that a
// record callback may ask for the FFT of its own channel; the capture runs on
// the server connection's thread, which calls the record callback and fills a
// lock-free ring of mono samples that the FFT request reads.

using HRECORD = uint32_t;

struct BASS_DEVICEINFO {
    QString name;   // the description the desktop's sound settings show
    QString driver; // the sound server's name of the device, stable across restarts
    uint32_t flags = 0;
};

constexpr uint32_t BASS_DEVICE_ENABLED = 1;
constexpr uint32_t BASS_DEVICE_DEFAULT = 2;

constexpr uint32_t BASS_CONFIG_FLOATDSP = 9;

constexpr uint32_t BASS_ACTIVE_STOPPED = 0;
constexpr uint32_t BASS_ACTIVE_PLAYING = 1;

// BASS_ChannelGetData request: 512 magnitudes of a Hann-windowed 1024-point FFT
// of the newest samples, into an array of at least 512 floats. A full-scale sine
// centred on a bin reads 1.0 there.
constexpr uint32_t BASS_DATA_FFT1024 = 0x80000002;

// Called on the capture thread with each block of interleaved 32-bit float
// samples as delivered; returning false ends the recording.
using RECORDPROC = bool (*)(HRECORD handle, const void *buffer, uint32_t length, void *user);

// False once `device` is beyond the list (or no sound server answers).
bool BASS_RecordGetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info);
// The same for playback devices (the server's sinks).
bool BASS_GetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info);
// Only BASS_CONFIG_FLOATDSP is known; the capture computes in float anyway.
bool BASS_SetConfig(uint32_t option, uint32_t value);
// False for a device that does not exist, or when a device is initialised already.
bool BASS_RecordInit(int device);
// Starts capturing from the initialised device; 0 when there is none, it cannot
// record, or a capture runs already.
HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RECORDPROC proc, void *user);
// BASS_ACTIVE_PLAYING while the capture records; BASS_ACTIVE_STOPPED for an
// unknown handle, while its source is gone, or once the server has gone.
uint32_t BASS_ChannelIsActive(HRECORD handle);
// Only BASS_DATA_FFT1024 is served: returns the bytes written (2048), -1 for an
// unknown handle or request. Allocates nothing. A record callback may ask for
// its own handle: it gets the FFT of the samples up to its block.
int32_t BASS_ChannelGetData(HRECORD handle, void *buffer, uint32_t length);
bool BASS_ChannelStop(HRECORD handle);
// Stops the output device, which this program never starts: always false.
bool BASS_Stop();
// Ends the capture and releases the recording device.
bool BASS_RecordFree();
// The last call: ends any capture and releases the device, so no capture thread
// runs into process exit. Safe to call more than once.
bool BASS_Free();

// Beyond the library's calls: what the server tells of its recording devices.
// The capture's source went away (the capture stops being active and keeps its
// handle) or came back (capture resumes on it); Source is the server's name.
// Changed: the list of recording devices changed.
// ServerLost: the connection to the sound server failed (Reason says why); it is
// made again once a second. ServerBack: it was made again (or first made, after
// AwaitSoundServer), and a capture that ran opens its source again by the
// server's name (Source).
struct TRecordDeviceEvent {
    enum TKind { Changed, Lost, Resumed, ServerLost, ServerBack } Kind;
    QString Source;
    QString Reason;
};
// The handler runs on the user-interface thread; an empty one removes it.
void SetRecordDeviceNotify(std::function<void(const TRecordDeviceEvent &event)> notify);
// The sound card behind the source of that server name (the server's default
// source for the empty name): its sysfs path or ALSA card number; empty when
// the server does not say.
QString RecordDeviceCard(const QString &source);
// Why no sound server can be reached, or the empty text when one answers.
QString SoundServerError();
// For a start without a server: the connection is tried once a second until it
// is made (ServerBack), as after a lost one.
void AwaitSoundServer();

// Initialises the recording device of that server name whether or not the
// server has it now: a capture started on it records once the source appears.
bool RecordInitSource(const QString &source);

// What a capture is doing. rsStalled: it runs, but no block has arrived for
// RecordStallLimit (a stalled server or driver). rsWaiting: its source is away
// and waited for. rsStopped: no such capture, or it has ended.
enum TRecordState { rsRunning, rsStalled, rsWaiting, rsNoServer, rsStopped };
constexpr std::chrono::milliseconds RecordStallLimit{250};
// The state of the capture `handle` and, when asked, the server's name of its source.
TRecordState RecordState(HRECORD handle, QString *source = nullptr);
// The connection the capture runs on (made when there is none); none while no
// server answers.
class TPulseServer;
std::shared_ptr<TPulseServer> SoundServerConnection();

// Test seam for code above the library (the keying engine): while a frame
// source is installed, BASS_RecordStart opens no device and returns a handle,
// and for every non-zero handle BASS_ChannelIsActive answers Active() and the
// FFT request lets Frame() fill the 512 magnitudes. Active may be left empty
// (always active). Install an empty TFrameSource{} to return to real capture.
struct TFrameSource {
    std::function<bool()> Active;
    std::function<void(float *magnitudes)> Frame;
};
void BASS_SetFrameSource(TFrameSource source);
