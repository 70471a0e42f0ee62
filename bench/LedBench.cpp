#include "support/Led1.h"

#include <QApplication>
#include <benchmark/benchmark.h>

namespace {
QApplication &App()
{
    static int argc = 1;
    static char name[] = "led_bench";
    static char *argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication app(argc, argv);
    return app;
}
} // namespace

// One paint of the VOX lamp (73 x 17, lsGradient2), as the keying engine's
// On setter and the blink tick cause it.
static void PaintVoxLed(benchmark::State &state)
{
    App();
    TLed led;
    led.resize(73, 17);
    led.SetColor1(clGreen);
    led.SetColor2(clLime);
    led.SetOffColor2(clGreen);
    for (auto _ : state) {
        led.SetOn(!led.On());
        benchmark::DoNotOptimize(led.Surface().constBits());
    }
}
BENCHMARK(PaintVoxLed)->Unit(benchmark::kMicrosecond);

// The 14 x 14 button lamp.
static void PaintButtonLed(benchmark::State &state)
{
    App();
    TLed led;
    led.resize(14, 14);
    led.SetStyle(lsGradient1);
    led.SetColor1(clGreen);
    led.SetColor2(clLime);
    for (auto _ : state) {
        led.SetOn(!led.On());
        benchmark::DoNotOptimize(led.Surface().constBits());
    }
}
BENCHMARK(PaintButtonLed)->Unit(benchmark::kMicrosecond);
