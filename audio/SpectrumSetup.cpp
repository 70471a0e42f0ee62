#include "app/KOTARUnit.h"

#include "audio/spectrum_vis.h"
#include "support/PaintBox.h"

#include <QPainter>

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

void TFormPlayer::ShowCaptureState(const QString &text)
{
    if (text == FCaptureState)
        return;
    FCaptureState = text;
    if (!Spectrum)
        return;
    QImage picture(PaintFrame->size(), QImage::Format_RGB32);
    picture.fill(ToQColor(Spectrum->BackColor));
    if (!text.isEmpty()) {
        QPainter painter(&picture);
        painter.setPen(ToQColor(Spectrum->BarColor));
        painter.setFont(PaintFrame->font());
        painter.drawText(picture.rect().adjusted(4, 4, -4, -4), Qt::AlignCenter | Qt::TextWordWrap, text);
    }
    PaintFrame->CopyPicture(picture);
}
