#pragma once
#include "SpawnedProcess.h"
#include "audio/bass.h"

#include <QString>
#include <QStringList>
#include <chrono>
#include <functional>
#include <memory>
#include <vector>

class TFormPlayer;

// Sound for the private PulseAudio server of scripts/pulse-fixture.sh.
namespace AudioTest {

// Makes a 16-bit 44100 Hz stereo WAV file with sox: a 1 kHz sine at `dbfs` for
// `seconds`, on both channels or, with leftOnly, on the left one alone.
QString MakeTone(const QString &dir, double dbfs, double seconds, bool leftOnly = false);
// Starts playing a file into a sink (the fixture's by default) with paplay.
std::unique_ptr<TSpawnedProcess> StartPlaying(const QString &file, const QString &sink = "kotar_sink");
// Runs pactl with `arguments` on the server of PULSE_SERVER; its output.
QString Pactl(const QStringList &arguments);
// The record streams of clients on the server (the server's own loopback has none).
int ClientRecordStreams();

// Polls `condition`, handling events, until it holds or `timeout` passes.
bool WaitFor(const std::function<bool()> &condition,
             std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

// The recording devices' names in the library's numbering, once the server
// has first answered.
QStringList RecordDeviceNames();

// The library's cache lists the recording device of that server name.
bool Listed(const QString &source);

// Counts the bytes the capture thread hands to the record callback.
struct TCallbackCounter {
    std::atomic<uint64_t> Bytes{0};
    static bool Proc(HRECORD, const void *, uint32_t length, void *user);
};

std::vector<float> Frame(HRECORD handle);
// Index of the largest of the 512 magnitudes.
size_t PeakBin(const std::vector<float> &frame);

// The spectrum area shows a line of text: pixels other than the background
// where no bar is ever drawn (the gaps between columns), above the baseline.
bool ShowsCaptureState(const TFormPlayer &form);
// The spectrum area shows exactly the last frame drawn, no text over it.
bool ShowsSpectrumOnly(const TFormPlayer &form);

} // namespace AudioTest
