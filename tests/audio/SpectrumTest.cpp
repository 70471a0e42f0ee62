#include "TestSupport.h"
#include "app/KOTARUnit.h"
#include "audio/spectrum_vis.h"
#include "support/PaintBox.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace {

constexpr int Visible = 26; // columns 0 to 25 fall inside 161 pixels

// The spectrum as start-up leaves it, on a paint box of PaintFrame's size.
struct Display {
    TPaintBox box{clBlack};
    TSpectrum spectrum{161, 105};
    std::vector<float> frame = std::vector<float>(513, 0.0f);

    Display()
    {
        box.resize(161, 105);
        spectrum.BarColor = clAqua;
        spectrum.PeakColor = clRed;
        spectrum.BinStep = 3;
        spectrum.BarFallOff = 10;
    }
    void SetColumn(int column, float magnitude) { frame[5 + 3 * column] = magnitude; }
    void SetAll(float magnitude)
    {
        for (int i = 0; i < TSpectrum::Columns; ++i)
            SetColumn(i, magnitude);
    }
    void Render() { spectrum.RenderFrame(box, frame, 5, -5); }
    TColor At(int x, int y) const
    {
        const QRgb pixel = box.Canvas().pixel(x, y);
        return RGBColor(qRed(pixel), qGreen(pixel), qBlue(pixel));
    }
    // What a column shows: its peak mark's row (-1 if covered) and the
    // highest row of its bar (100 if empty), checked over its full width
    // and against the background around it.
    void ExpectColumn(int column, int markRow, int barTop) const
    {
        const int left = 5 + 6 * column;
        for (int x = left; x < left + 5; ++x)
            for (int y = 0; y < 105; ++y) {
                TColor expected = clBlack;
                if (y >= barTop && y < 100)
                    expected = clAqua;
                else if (y == markRow)
                    expected = clRed;
                ASSERT_EQ(At(x, y), expected) << "column " << column << " at " << x << "," << y;
            }
        for (int y = 0; y < 105; ++y)
            ASSERT_EQ(At(left + 5, y), clBlack) << "gap after column " << column;
    }
};

} // namespace

TEST(Spectrum, CreationValues)
{
    TSpectrum spectrum(161, 105);
    EXPECT_EQ(spectrum.BackBuffer().size(), QSize(161, 105));
    EXPECT_EQ(spectrum.BackColor, clBlack);
    EXPECT_EQ(spectrum.MaxHeight, 100);
    EXPECT_EQ(spectrum.BarColor, clWhite);
    EXPECT_EQ(spectrum.PeakColor, clYellow);
    EXPECT_EQ(spectrum.BinStep, 1);
    EXPECT_EQ(spectrum.PeakFallOff, 1);
    EXPECT_EQ(spectrum.BarFallOff, 3);
    EXPECT_EQ(spectrum.ColumnWidth, 5);
    for (int i = 0; i < TSpectrum::Columns; ++i) {
        EXPECT_EQ(spectrum.Peak(i), 0);
        EXPECT_EQ(spectrum.Bar(i), 0);
    }
}

TEST(Spectrum, SilenceLeavesMarksOnTheBaseline)
{
    Display d;
    d.Render();
    EXPECT_EQ(d.box.Canvas(), d.spectrum.BackBuffer().copy()) << "the paint box shows the whole frame";
    for (int x = 0; x < 5; ++x)
        for (int y = 0; y < 105; ++y)
            ASSERT_EQ(d.At(x, y), clBlack);
    for (int i = 0; i < Visible; ++i)
        d.ExpectColumn(i, 100, 100);
}

TEST(Spectrum, ColumnsAndBins)
{
    Display d;
    // Column i reads bin 5 + 3i: bins in between show nothing.
    d.frame[5 + 3 * 2] = 0.1f;
    d.frame[5 + 3 * 2 + 1] = 0.25f;
    d.frame[5 + 3 * 2 - 1] = 0.25f;
    d.Render();
    d.ExpectColumn(2, -1, 50);
    d.ExpectColumn(1, 100, 100);
    d.ExpectColumn(3, 100, 100);

    // All full: bars at x = 5, 11, 17, ... up to column 25 at 155..159.
    d.SetAll(1.0f);
    d.Render();
    for (int i = 0; i < Visible; ++i)
        d.ExpectColumn(i, -1, 0);
    for (int y = 0; y < 105; ++y)
        EXPECT_EQ(d.At(160, y), clBlack) << "column 26 would start at x = 161";
    // Columns outside the box are updated all the same.
    EXPECT_EQ(d.spectrum.Bar(128), 100);
    EXPECT_EQ(d.spectrum.Peak(128), 100);
}

TEST(Spectrum, ScalingTruncatesAndCaps)
{
    Display d;
    d.SetColumn(0, 0.25f);    // 125, capped
    d.SetColumn(1, 0.0199f);  // 9.95 truncated
    d.SetColumn(2, -0.1f);    // the magnitude's absolute value
    d.SetColumn(3, std::numeric_limits<float>::infinity());
    d.SetColumn(4, std::numeric_limits<float>::quiet_NaN());
    d.Render();
    d.ExpectColumn(0, -1, 0);
    EXPECT_EQ(d.spectrum.Bar(1), 9);
    d.ExpectColumn(1, -1, 91);
    d.ExpectColumn(2, -1, 50);
    d.ExpectColumn(3, -1, 0);
    d.ExpectColumn(4, 100, 100);
}

TEST(Spectrum, BarsAndMarksFallAfterSilence)
{
    Display d;
    d.SetColumn(7, 1.0f);
    d.Render();
    d.SetColumn(7, 0.0f);
    for (int frame = 1; frame <= 100; ++frame) {
        d.Render();
        const int bar = std::max(100 - 10 * frame, 0);
        const int mark = 100 - frame;
        ASSERT_EQ(d.spectrum.Bar(7), bar) << frame;
        ASSERT_EQ(d.spectrum.Peak(7), mark) << frame;
        d.ExpectColumn(7, 100 - mark, 100 - bar);
    }
    d.Render();
    d.ExpectColumn(7, 100, 100);

    // Below the bar but above bar - fall-off: the bar still falls the full
    // fall-off; the mark takes its one step.
    d.SetColumn(7, 1.0f);
    d.Render();
    d.SetColumn(7, 0.192f); // 96
    d.Render();
    EXPECT_EQ(d.spectrum.Bar(7), 90);
    EXPECT_EQ(d.spectrum.Peak(7), 99);
    d.ExpectColumn(7, 1, 10);
    d.Render(); // 96 reaches the bar of 90
    EXPECT_EQ(d.spectrum.Bar(7), 96);
    EXPECT_EQ(d.spectrum.Peak(7), 98);
}

// Once everything has sunk, silence leaves the buffer untouched (no redraw, no
// copy to compare); any change, of a value or of a colour, draws again.
TEST(Spectrum, SettledSilenceIsNotRedrawn)
{
    Display d;
    d.SetColumn(3, 0.1f);
    d.Render();
    d.SetColumn(3, 0.0f);
    for (int frame = 0; frame < 60; ++frame)
        d.Render();
    const qint64 settled = d.spectrum.BackBuffer().cacheKey();
    const QImage picture = d.box.Canvas();
    for (int frame = 0; frame < 10; ++frame)
        d.Render();
    EXPECT_EQ(d.spectrum.BackBuffer().cacheKey(), settled) << "silence drew again";
    EXPECT_EQ(d.box.Canvas(), picture);
    d.ExpectColumn(3, 100, 100);

    d.spectrum.PeakColor = clYellow;
    d.Render();
    EXPECT_NE(d.spectrum.BackBuffer().cacheKey(), settled);
    EXPECT_EQ(d.At(5, 100), clYellow);
    d.spectrum.PeakColor = clRed;
    d.SetColumn(3, 0.1f);
    d.Render();
    d.ExpectColumn(3, 50, 50);
}

TEST(Spectrum, ShortFrameReadsAsSilence)
{
    Display d;
    d.SetAll(1.0f);
    d.Render();
    // A frame that ends before the highest bin, and a bin step that would
    // read past the 512 magnitudes: the missing bins count as silence.
    const std::vector<float> shortFrame(20, 1.0f); // holds columns 0 to 4
    d.spectrum.RenderFrame(d.box, shortFrame, 5, -5);
    EXPECT_EQ(d.spectrum.Bar(4), 100);
    EXPECT_EQ(d.spectrum.Bar(5), 90);
    d.spectrum.BinStep = 4;
    d.Render();
    EXPECT_EQ(d.spectrum.Bar(127), 80); // bin 513: outside
}

TEST(Spectrum, StartUpSettingsOnPaintFrame)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    TFormPlayer form({});
    form.Terminate = [] {};
    ASSERT_TRUE(form.Spectrum);
    const TSpectrum &s = *form.Spectrum;
    EXPECT_EQ(s.BackBuffer().size(), QSize(161, 105));
    EXPECT_EQ(s.BackColor, clBlack);
    EXPECT_EQ(s.MaxHeight, 100);
    EXPECT_EQ(s.BarColor, clAqua);
    EXPECT_EQ(s.PeakColor, clRed);
    EXPECT_EQ(s.BinStep, 3);
    EXPECT_EQ(s.PeakFallOff, 1);
    EXPECT_EQ(s.BarFallOff, 10);
    EXPECT_EQ(s.ColumnWidth, 5);
    EXPECT_EQ(form.PaintFrame->geometry(), QRect(52, 8, 161, 105));
    EXPECT_FALSE(form.PaintFrame->isHidden());

    std::vector<float> frame(513, 0.0f);
    frame[5 + 3 * 25] = 0.1f;
    form.DrawSpectrum(frame);
    const QImage &canvas = form.PaintFrame->Canvas();
    const int x = 5 + 6 * 25;
    EXPECT_EQ(canvas.pixel(x, 50), ToQRgb(clAqua));
    EXPECT_EQ(canvas.pixel(x, 49), ToQRgb(clBlack));
    EXPECT_EQ(canvas.pixel(x - 6, 100), ToQRgb(clRed));
}
