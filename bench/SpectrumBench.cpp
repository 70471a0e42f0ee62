#include "audio/spectrum_vis.h"
#include "support/PaintBox.h"

#include <QApplication>
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {
QApplication &App()
{
    static int argc = 1;
    static char name[] = "spectrum_bench";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}
} // namespace

// One render tick's drawing: 129 columns into the 161 x 105 back buffer and
// the copy onto the paint box, with the start-up settings.
static void RenderFrame(benchmark::State &state)
{
    App();
    TPaintBox box(clBlack);
    box.resize(161, 105);
    TSpectrum spectrum(161, 105);
    spectrum.BarColor = clAqua;
    spectrum.PeakColor = clRed;
    spectrum.BinStep = 3;
    spectrum.BarFallOff = 10;
    std::vector<std::vector<float>> frames(8, std::vector<float>(513));
    for (size_t f = 0; f < frames.size(); ++f)
        for (size_t i = 0; i < 513; ++i)
            frames[f][i] = float(0.2 * std::fabs(std::sin(0.05 * double(i) + double(f))));
    size_t n = 0;
    for (auto _ : state) {
        spectrum.RenderFrame(box, frames[n++ % frames.size()], 5, -5);
        benchmark::DoNotOptimize(box.Canvas().constBits());
    }
}
BENCHMARK(RenderFrame)->Unit(benchmark::kMicrosecond);
