#include "support/PaintBox.h"

#include <QPainter>

TPaintBox::TPaintBox(TColor color, QWidget *parent) : QWidget(parent), FColor(color)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void TPaintBox::CopyPicture(const QImage &picture)
{
    // A picture like the last (a silent spectrum) costs the window system
    // nothing: 30 repaints a second are most of an idle program's work.
    if (FCanvas.size() == size() && picture == FLastPicture)
        return;
    FLastPicture = picture;
    if (FCanvas.size() != size()) {
        FCanvas = QImage(size(), QImage::Format_RGB32);
        FCanvas.fill(ToQColor(FColor));
    }
    QPainter painter(&FCanvas);
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, picture);
    painter.end();
    update();
}

void TPaintBox::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), ToQColor(FColor));
    painter.drawImage(0, 0, FCanvas);
}
