#include "audio/spectrum_vis.h"

#include "support/PaintBox.h"

#include <algorithm>
#include <cmath>

TSpectrum::TSpectrum(int width, int height) : FBuffer(width, height, QImage::Format_RGB32) {}

void TSpectrum::RenderFrame(TPaintBox &surface, std::span<const float> frame, int x, int y)
{
    Draw(frame, x, y);
    surface.CopyPicture(FBuffer);
}

void TSpectrum::Draw(std::span<const float> frame, int x, int y)
{
    const int w = FBuffer.width();
    const int h = FBuffer.height();
    const int baseline = h + y;
    const int pitch = ColumnWidth + 1;
    const std::array<int, Columns> drawnPeaks = FPeaks, drawnBars = FBars;
    for (int i = 0; i < Columns; ++i) {
        const long long bin = FirstBin + (long long)i * BinStep;
        const double magnitude = bin >= 0 && bin < (long long)frame.size() ? std::fabs((double)frame[bin]) : 0.0;
        const double scaled = magnitude * 500.0;
        // Compared before truncating, so that infinities cap and NaN reads as
        // silence instead of overflowing the conversion.
        int v = 0;
        if (scaled > MaxHeight)
            v = MaxHeight;
        else if (scaled >= 0.0)
            v = (int)scaled;

        int &mark = FPeaks[i];
        int &bar = FBars[i];
        mark = v >= mark ? v : mark - PeakFallOff;
        bar = v >= bar ? v : bar - BarFallOff;
        mark = std::max(mark, 0);
        bar = std::max(bar, 0);
    }
    // A frame like the last (silence, once every bar and mark has sunk) leaves
    // the buffer as it is: redrawing it 30 times a second, and comparing the
    // copy, was most of an idle program's work.
    const std::array<long long, 7> look{x, y, ColumnWidth, BackColor, BarColor, PeakColor, MaxHeight};
    if (FDrawn && look == FDrawnLook && FPeaks == drawnPeaks && FBars == drawnBars)
        return;
    FDrawn = true;
    FDrawnLook = look;
    FillRect(0, 0, w, h, BackColor);
    for (int i = 0; i < Columns; ++i) {
        const int mark = FPeaks[i], bar = FBars[i];
        const int left = x + i * pitch;
        FillRect(left, baseline - mark, left + ColumnWidth, baseline - mark + 1, PeakColor);
        FillRect(left, baseline - bar, left + ColumnWidth, baseline, BarColor);
    }
}

// Fills x1..x2-1 by y1..y2-1, clipped to the buffer.
void TSpectrum::FillRect(int x1, int y1, int x2, int y2, TColor color)
{
    x1 = std::max(x1, 0);
    y1 = std::max(y1, 0);
    x2 = std::min(x2, FBuffer.width());
    y2 = std::min(y2, FBuffer.height());
    const QRgb pixel = ToQRgb(color);
    for (int row = y1; row < y2; ++row) {
        auto *line = reinterpret_cast<QRgb *>(FBuffer.scanLine(row));
        std::fill(line + x1, line + std::max(x1, x2), pixel);
    }
}
