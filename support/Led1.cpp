#include "support/Led1.h"

#include "support/ErrorReport.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <utility>

TLed::TLed(QWidget *owner) : QWidget(owner)
{
    resize(10, 33);
}

template <class T> void TLed::Change(T &field, T value)
{
    if (field == value)
        return;
    field = value;
    Paint();
}

void TLed::SetStyle(TLedStyle value) { Change(FStyle, value); }
void TLed::SetColor1(TColor value) { Change(FColor1, value); }
void TLed::SetColor2(TColor value) { Change(FColor2, value); }
void TLed::SetOffColor1(TColor value) { Change(FOffColor1, value); }
void TLed::SetOffColor2(TColor value) { Change(FOffColor2, value); }
void TLed::SetRadius(uint8_t value) { Change(FRadius, value); }
void TLed::SetOn(bool value) { Change(FOn, value); }
void TLed::SetDiagShining(bool value) { Change(FDiagShining, value); }

void TLed::Paint()
{
    Draw();
    update();
}

void TLed::Draw()
{
    if (FSurface.size() != size()) {
        // A new size is a new piece of the parent's surface: nothing drawn yet.
        FSurface = QImage(size(), QImage::Format_ARGB32_Premultiplied);
        FSurface.fill(Qt::transparent);
    }
    ++FPaintCount;
    if (!FSurface.isNull()) {
        QPainter painter(&FSurface);
        painter.setRenderHint(QPainter::Antialiasing, false);
        const TColor outer = FOn ? FColor1 : FOffColor1;
        const TColor inner = FOn ? FColor2 : FOffColor2;
        if (FStyle == lsAlternative)
            DrawAlternative(painter, outer, inner);
        else
            DrawGradient(painter, outer, inner);
    }
}

namespace {
// Step of one channel from a to b over h rings, truncated toward zero. With
// h = 0 (a lamp 1 to 3 pixels across) there is one ring, in the outer colour.
int ChannelStep(int a, int b, int h)
{
    return h == 0 ? 0 : (b - a) / h;
}
} // namespace

void TLed::DrawGradient(QPainter &painter, TColor outer, TColor inner)
{
    const int w = width();
    const int hgt = height();
    const uint16_t span = uint16_t((FStyle == lsGradient1 ? std::max(w, hgt) : std::min(w, hgt)) - 1);
    const int half = span / 2;
    const int stepR = ChannelStep(ColorRed(outer), ColorRed(inner), half);
    const int stepG = ChannelStep(ColorGreen(outer), ColorGreen(inner), half);
    const int stepB = ChannelStep(ColorBlue(outer), ColorBlue(inner), half);
    for (int i = 0; i <= half; ++i) {
        FPenColor = RGBColor(ColorRed(outer) + i * stepR, ColorGreen(outer) + i * stepG, ColorBlue(outer) + i * stepB);
        if (!FDiagShining)
            FFillColor = FPenColor;
        // No line from the pen's last position to the lamp's corner: inside
        // the rings it would be covered anyway, and its tail beyond them
        // showed as a stray stub at the lamp's bottom-right corner.
        DrawRectangle(painter, i, i, w - i - 1, hgt - i - 1);
    }
}

void TLed::DrawAlternative(QPainter &painter, TColor outer, TColor inner)
{
    const int w = width();
    const int h = height();
    const int rounds = (w - 1) / 4 + 1;
    for (int k = 0; k < rounds; ++k) {
        FPenColor = outer;
        if (!FDiagShining)
            FFillColor = inner;
        DrawRectangle(painter, 2 * k, 2 * k, w - 2 * k - 1, h - 2 * k - 1);
        FPenColor = inner;
        if (!FDiagShining)
            FFillColor = outer;
        DrawRectangle(painter, 2 * k + 1, 2 * k + 1, w - 2 * k - 2, h - 2 * k - 2);
    }
}

// A rounded rectangle covering x1..x2-1 and y1..y2-1, outlined with the pen
// and filled with the fill colour. Crossed corners are put in order first,
// as the graphics layer does; an empty rectangle draws nothing.
void TLed::DrawRectangle(QPainter &painter, int x1, int y1, int x2, int y2)
{
    if (x2 < x1)
        std::swap(x1, x2);
    if (y2 < y1)
        std::swap(y1, y2);
    const int w = x2 - x1;
    const int h = y2 - y1;
    if (w < 1 || h < 1)
        return;
    const QColor pen = ToQColor(FPenColor);
    if (FRadius < 2 || w < 3 || h < 3) {
        // A corner ellipse under 2 pixels rounds nothing off.
        painter.fillRect(x1, y1, w, h, ToQColor(FFillColor));
        painter.fillRect(x1, y1, w, 1, pen);
        painter.fillRect(x1, y2 - 1, w, 1, pen);
        painter.fillRect(x1, y1, 1, h, pen);
        painter.fillRect(x2 - 1, y1, 1, h, pen);
        return;
    }
    painter.setPen(QPen(pen, 0));
    painter.setBrush(ToQColor(FFillColor));
    const qreal r = FRadius / 2.0;
    painter.drawRoundedRect(QRect(x1, y1, w - 1, h - 1), r, r, Qt::AbsoluteSize);
}

void TLed::Click()
{
    if (FClickAction) {
        FOn = !FOn;
        Paint();
    }
    if (OnClick)
        OnClick();
}

void TLed::DblClick()
{
    if (FDblClickAction) {
        FOn = !FOn;
        Paint();
    }
    if (OnDblClick)
        OnDblClick();
}

void TLed::paintEvent(QPaintEvent *)
{
    if (FSurface.size() != size())
        Draw();
    QPainter(this).drawImage(0, 0, FSurface);
}

void TLed::mousePressEvent(QMouseEvent *event)
{
    // Other buttons go on to the parent, whose pop-up menus they open.
    FPressed = event->button() == Qt::LeftButton;
    if (!FPressed)
        event->ignore();
}

void TLed::mouseReleaseEvent(QMouseEvent *event)
{
    const bool click = FPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint());
    FPressed = false;
    if (click)
        ErrorReport::Guarded([this] { Click(); });
}

void TLed::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        ErrorReport::Guarded([this] { DblClick(); });
}
