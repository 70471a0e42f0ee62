// The loop probe against real signals made by sox, espeak-ng and minimodem:
// none looks like its return; a loop's return is found, with its delay.
#include "audio/LoopProbe.h"

#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <cmath>
#include <algorithm>
#include <gtest/gtest.h>
#include <vector>

namespace {
constexpr uint32_t Rate = 44100;
constexpr int64_t Size = 1 << 17, Lead = 60 * Rate / 1000;

// Runs a tool; its output file read back as mono float samples at 44.1 kHz.
std::vector<float> Made(const QTemporaryDir &dir, const QString &tool, QStringList arguments, const QByteArray &input = {})
{
    const QString made = dir.filePath("made.wav"), raw = dir.filePath("made.raw");
    arguments.replaceInStrings("OUT", made);
    QProcess process;
    process.start(tool, arguments);
    process.write(input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(60000) && process.exitCode() == 0) << tool.toStdString();
    EXPECT_EQ(QProcess::execute("sox", {made, "-r", "44100", "-c", "1", "-e", "floating-point", "-b", "32", "-t", "raw",
                                        raw, "norm", "-6"}),
              0);
    QFile file(raw);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto *begin = reinterpret_cast<const float *>(bytes.constData());
    return std::vector<float>(begin, begin + size_t(bytes.size()) / sizeof(float));
}

// BPSK at 31.25 Bd on 1 kHz, the phase turned at bit boundaries.
std::vector<float> Psk31()
{
    std::vector<float> samples(size_t(Rate) * 2);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(((0x9b3c51e7u >> (i / (Rate * 32 / 1000) % 32)) & 1 ? -0.5 : 0.5)
                           * std::sin(2 * M_PI * 1000 * double(i) / Rate));
    return samples;
}

// The probe begun at `offset` into the signal, the capture being the signal
// times `level` plus the probe returned after `returnMs` times `gain` (none
// without a loop).
TLoopProbe::TVerdict Probed(const std::vector<float> &signal, size_t offset, float level, double gain, int returnMs)
{
    TLoopProbe probe(Rate);
    probe.Reset(Lead);
    std::vector<float> ring(Size);
    const int64_t start = Size, at = start + int64_t(offset), lag = Lead + returnMs * int64_t(Rate) / 1000;
    probe.Begin(at);
    for (int64_t written = start; written < start + Size - 1; written += 256) {
        for (int64_t i = written; i < written + 256; ++i) {
            const auto n = size_t(i - start);
            ring[size_t(i % Size)] = level * (n < signal.size() ? signal[n] : 0.0f)
                                     + float(gain) * probe.Sample(i - lag);
        }
        if (const auto verdict = probe.Work(ring.data(), Size, written + 256, 1 << 20))
            return *verdict;
    }
    ADD_FAILURE() << "no verdict";
    return {};
}
} // namespace

TEST(LoopProbe, NoSignalOfTheCorpusLooksLikeALoopAndEveryLoopIsFound)
{
    QTemporaryDir dir;
    const QByteArray text = "CQ CQ DE KOTARPLUS KOTARPLUS TEST K";
    const QString speech = "The quick brown fox jumps over the lazy dog, again and again, on the air.";
    const auto sox = [&](const QStringList &synth) {
        return Made(dir, "sox", QStringList{"-n", "-r", "44100", "OUT", "synth"} + synth);
    };
    const std::vector<std::pair<const char *, std::vector<float>>> corpus = {
        {"steady tone", sox({"2", "sine", "1000"})},
        {"keyed tone", sox({"0.06", "sine", "800", "pad", "0", "0.04", "repeat", "19"})},
        {"two tones", sox({"2", "sine", "700", "sine", "1900", "remix", "-"})},
        {"AFSK 1200 Bd", Made(dir, "minimodem", {"--tx", "-f", "OUT", "1200"}, text)},
        {"FSK 300 Bd", Made(dir, "minimodem", {"--tx", "-f", "OUT", "300"}, text)},
        {"RTTY 45.45 Bd", Made(dir, "minimodem", {"--tx", "-f", "OUT", "rtty"}, text)},
        {"PSK31", Psk31()},
        {"speech", Made(dir, "espeak-ng", {"-w", "OUT", speech})},
        {"music", sox({"2", "pluck", "C3", "pluck", "E4", "pluck", "G4", "remix", "-", "tremolo", "3", "60"})},
        {"white noise", sox({"2", "whitenoise"})},
        {"pink noise", sox({"2", "pinknoise"})},
    };
    for (const auto &[name, signal] : corpus) {
        ASSERT_GT(signal.size(), size_t(Rate) / 4) << name;
        for (int run = 0; run < 20; ++run) {
            const size_t offset = size_t(run) * std::min(signal.size() / 2, size_t(Rate)) / 20;
            EXPECT_FALSE(Probed(signal, offset, 1.0f, 0, 0).Loop) << name << ", run " << run << ": a false alarm";
        }
        // After a transmission: the signal's remnant at -40 dB under the loop.
        for (const double gain : {1.0, 0.25}) {
            const TLoopProbe::TVerdict verdict = Probed(signal, signal.size() / 4, 0.01f, gain, 20);
            EXPECT_TRUE(verdict.Loop) << name << ": a loop of gain " << gain << " missed";
            EXPECT_NEAR(verdict.ReturnMs, 20, 1) << name;
        }
    }
}
