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
// runs at a time. The capture runs on the library's own thread (the sound
// server's loop), which calls the record callback and fills a lock-free ring of
// mono samples that the FFT request reads.
//
// Threads. No call waits for the sound server: the connection is made, and made
// again once a second after it failed, on the library's thread; the device
// lists are a cache that thread keeps; what happens later is told by events
// (SetRecordDeviceNotify). BASS_ChannelIsActive, BASS_ChannelGetData and
// RecordState may be called from any thread, also while the thread that sets
// up (the user-interface thread) stops, frees or starts a capture. Every other
// call belongs to that one set-up thread; a record callback may also ask for
// the FFT of its own channel.

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

// From the cache: false once `device` is beyond the list (or no connection is
// made yet).
bool BASS_RecordGetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info);
// The same for playback devices (the server's sinks).
bool BASS_GetDeviceInfo(uint32_t device, BASS_DEVICEINFO *info);
// Only BASS_CONFIG_FLOATDSP is known; the capture computes in float anyway.
bool BASS_SetConfig(uint32_t option, uint32_t value);
// False for a device that does not exist, or when a device is initialised already.
bool BASS_RecordInit(int device);
// Starts capturing from the initialised device and returns at once: the stream
// is made on the library's thread, and a failure there is told as Lost (the
// capture then waits for its source). 0 when no device is initialised, no
// connection is made, or a capture runs already. The high word of flags, as
// MAKELONG(flags, period), is the period in ms between calls of the record
// callback; 0: about 5 ms.
HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RECORDPROC proc, void *user);
// The same, the capture holding `user` for as long as it may call `proc`.
HRECORD BASS_RecordStart(uint32_t freq, uint32_t chans, uint32_t flags, RECORDPROC proc, std::shared_ptr<void> user);
// Any thread. BASS_ACTIVE_PLAYING while the capture records or its stream is
// being made; BASS_ACTIVE_STOPPED for an unknown handle, while its source is
// gone, or once the server has gone.
uint32_t BASS_ChannelIsActive(HRECORD handle);
// Any thread. Only BASS_DATA_FFT1024 is served: returns the bytes written
// (2048), -1 for an unknown handle or request. Each thread has an analyser of
// its own, made at its first request; no request allocates. A record callback
// may ask for its own handle: it gets the FFT of the samples up to its block.
int32_t BASS_ChannelGetData(HRECORD handle, void *buffer, uint32_t length);
bool BASS_ChannelStop(HRECORD handle);
// Stops the output device, which this program never starts: always false.
bool BASS_Stop();
// Ends the capture and releases the recording device.
bool BASS_RecordFree();
// The last call: ends any capture, releases the device and stops the library's
// thread (joined), so that nothing of it runs into process exit. Safe to call
// more than once; a library call after it starts the library afresh.
bool BASS_Free();

// Beyond the library's calls: what the server tells of its recording devices,
// posted to the set-up thread's event loop.
// Changed: the list of recording devices changed (the cache already has it).
// Lost: the capture's source went away or could not be opened (the capture
// stops being active, keeps its handle and waits for it); Resumed: it came back
// and capture resumed on it. Source is the server's name, Reason says why.
// ServerAbsent: the first connection attempt failed (Reason); told once until a
// connection is made. ServerLost: a connection that was made failed (Reason).
// After either the connection is tried once a second. ServerBack: it was made
// again, and a capture that ran opens its source again by the server's name
// (Source). ServerReady: the first connection was made after a capture could not
// start for want of it. Note: a line for the trace (Reason), such as the
// scheduling the capture thread got.
struct TRecordDeviceEvent {
    enum TKind { Changed, Lost, Resumed, ServerLost, ServerBack, ServerAbsent, ServerReady, Note } Kind;
    QString Source;
    QString Reason;
};
// The handler runs on the set-up thread; an empty one removes it, as BASS_Free
// does. Notes that came while there was none, and a standing absence of the
// server, are passed to the next one at once.
void SetRecordDeviceNotify(std::function<void(const TRecordDeviceEvent &event)> notify);
// From the cache: the sound card behind the source of that server name (the
// server's default source for the empty name): its sysfs path or ALSA card
// number; empty when the server does not say.
QString RecordDeviceCard(const QString &source);
// The connection: being made for the first time, made, or absent (attempts
// failed; tried again once a second). Starts the library's thread when none runs.
enum TSoundServerState { ssConnecting, ssReady, ssAbsent };
TSoundServerState SoundServerState();
// Why no sound server can be reached: the empty text once one answers, and
// while the first attempt is under way.
QString SoundServerError();

// Initialises the recording device of that server name whether or not the
// server has it now: a capture started on it records once the source appears.
bool RecordInitSource(const QString &source);

// What a capture is doing. rsStalled: it runs, but the capture thread has
// seen no block for RecordStallLimit (a stalled server or driver; a thread that
// was held up and finds data waiting is no stall). rsWaiting: its source is
// away and waited for. rsNoServer: no connection. rsStopped: no such capture,
// or it has ended.
enum TRecordState { rsRunning, rsStalled, rsWaiting, rsNoServer, rsStopped };
constexpr std::chrono::milliseconds RecordStallLimit{250};
// Any thread: the state of the capture `handle` and, when asked, the server's
// name of its source.
TRecordState RecordState(HRECORD handle, QString *source = nullptr);
// The connection, while it is made; none otherwise.
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
