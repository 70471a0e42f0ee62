#pragma once
#include "support/Colors.h"

#include <QImage>
#include <array>
#include <span>

class TPaintBox;

// The live spectrum: one bar per column with a peak mark above it that sinks
// slowly. Each frame is drawn into a back buffer and copied to the surface in
// one block, so the picture never flickers.
class TSpectrum {
public:
    static constexpr int Columns = 129;
    // The first FFT bin shown; column i shows bin FirstBin + i * BinStep.
    static constexpr int FirstBin = 5;

    TSpectrum(int width, int height);

    TColor BackColor = clBlack;
    int MaxHeight = 100;
    TColor BarColor = clWhite;
    TColor PeakColor = clYellow;
    int BinStep = 1;
    int PeakFallOff = 1;
    int BarFallOff = 3;
    int ColumnWidth = 5;

    // Draws one frame of FFT magnitudes, offset by x and y, and copies it to
    // the surface. Bins the frame does not hold read as silence.
    void RenderFrame(TPaintBox &surface, std::span<const float> frame, int x, int y);

    const QImage &BackBuffer() const { return FBuffer; }
    int Peak(int column) const { return FPeaks.at(column); }
    int Bar(int column) const { return FBars.at(column); }

private:
    void Draw(std::span<const float> frame, int x, int y);
    void FillRect(int x1, int y1, int x2, int y2, TColor color);

    QImage FBuffer;
    std::array<int, Columns> FPeaks{};
    std::array<int, Columns> FBars{};
    // What the buffer was last drawn with, beyond the values above.
    bool FDrawn = false;
    std::array<long long, 7> FDrawnLook{};
};
