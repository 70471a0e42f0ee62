#include "app/KOTARUnit.h"

#include "audio/spectrum_vis.h"
#include "support/PaintBox.h"

void TFormPlayer::CreateSpectrum()
{
    Spectrum = std::make_unique<TSpectrum>(PaintFrame->width(), PaintFrame->height());
    Spectrum->BackColor = clBlack;
    Spectrum->BarColor = clAqua;
    Spectrum->PeakColor = clRed;
    Spectrum->BinStep = 3;
    Spectrum->PeakFallOff = 1;
    Spectrum->BarFallOff = 10;
    Spectrum->ColumnWidth = 5;
    PaintFrame->setVisible(true);
}

void TFormPlayer::DrawSpectrum(std::span<const float> frame)
{
    Spectrum->RenderFrame(*PaintFrame, frame, 5, -5);
}
