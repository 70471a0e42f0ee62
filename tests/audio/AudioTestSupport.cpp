#include "AudioTestSupport.h"
#include "TestSupport.h"

#include "app/KOTARUnit.h"
#include "audio/spectrum_vis.h"
#include "support/PaintBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QThread>
#include <algorithm>
#include <stdexcept>

namespace AudioTest {

namespace {
void Run(const QString &program, const QStringList &arguments)
{
    if (TSpawnedProcess::execute(program, arguments) != 0)
        throw std::runtime_error((program + " failed").toStdString());
}
} // namespace

QString MakeTone(const QString &dir, double dbfs, double seconds, bool leftOnly)
{
    const QString file = QDir(dir).filePath(QString("tone%1%2.wav").arg(dbfs).arg(leftOnly ? "L" : ""));
    QStringList arguments{"-D", "-n", "-r", "44100", "-c", "2", "-b", "16", file, "synth", QString::number(seconds),
                          "sine", "1000", "gain", QString::number(dbfs)};
    if (leftOnly)
        arguments << "remix" << "1" << "0";
    Run("sox", arguments);
    return file;
}

std::unique_ptr<TSpawnedProcess> StartPlaying(const QString &file, const QString &sink)
{
    auto process = std::make_unique<TSpawnedProcess>();
    if (!process->start("paplay", {"-d", sink, file}))
        throw std::runtime_error("paplay does not start");
    return process;
}

QString Pactl(const QStringList &arguments)
{
    TSpawnedProcess process;
    process.start("pactl", arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0)
        throw std::runtime_error(("pactl " + arguments.join(' ') + " failed").toStdString());
    return QString::fromUtf8(process.readAllStandardOutput());
}

int ClientRecordStreams()
{
    int streams = 0;
    for (const QString &line : Pactl({"list", "short", "source-outputs"}).split('\n', Qt::SkipEmptyParts))
        if (line.split('\t').value(2) != "-")
            ++streams;
    return streams;
}

bool WaitFor(const std::function<bool()> &condition, std::chrono::milliseconds timeout)
{
    return PumpUntil(condition, timeout);
}

QStringList RecordDeviceNames()
{
    AwaitSoundServerAnswer();
    QStringList names;
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; BASS_RecordGetDeviceInfo(n, &info); ++n)
        names << info.name;
    return names;
}

bool Listed(const QString &source)
{
    BASS_DEVICEINFO info;
    for (uint32_t n = 0; BASS_RecordGetDeviceInfo(n, &info); ++n)
        if (info.driver == source)
            return true;
    return false;
}

bool TCallbackCounter::Proc(HRECORD, const void *, uint32_t length, void *user)
{
    static_cast<TCallbackCounter *>(user)->Bytes += length;
    return true;
}

std::vector<float> Frame(HRECORD handle)
{
    std::vector<float> frame(513, -1.0f);
    BASS_ChannelGetData(handle, frame.data(), BASS_DATA_FFT1024);
    return frame;
}

size_t PeakBin(const std::vector<float> &frame)
{
    return size_t(std::max_element(frame.begin(), frame.begin() + 512) - frame.begin());
}

bool ShowsCaptureState(const TFormPlayer &form)
{
    const QImage &canvas = form.PaintFrame->Canvas();
    const QColor background = ToQColor(form.Spectrum->BackColor);
    int pixels = 0;
    // Columns stand at x = 5 + 6i, 5 pixels wide: x = 10 + 6i is never a bar's.
    for (int x = 10; x < canvas.width(); x += 6)
        for (int y = 0; y < 95 && y < canvas.height(); ++y)
            pixels += canvas.pixelColor(x, y) != background;
    return pixels >= 3;
}

bool ShowsSpectrumOnly(const TFormPlayer &form)
{
    return form.PaintFrame->Canvas() == form.Spectrum->BackBuffer().convertToFormat(QImage::Format_RGB32);
}

} // namespace AudioTest
