#include <algorithm>
#include "support/TrackBar.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>

TTrackBar::TTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
}

void TTrackBar::SetSelStart(int value)
{
    if (value == FSelStart)
        return;
    FSelStart = value;
    update();
}

void TTrackBar::SetSelEnd(int value)
{
    if (value == FSelEnd)
        return;
    FSelEnd = value;
    update();
}

void TTrackBar::paintEvent(QPaintEvent *event)
{
    QSlider::paintEvent(event);
    const int lo = std::clamp(std::min(FSelStart, FSelEnd), minimum(), maximum());
    const int hi = std::clamp(std::max(FSelStart, FSelEnd), minimum(), maximum());
    if (hi <= lo)
        return;
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRect groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = groove.width() - handle.width();
    const int x0 = groove.left() + handle.width() / 2;
    const int left = x0 + QStyle::sliderPositionFromValue(minimum(), maximum(), lo, span);
    const int right = x0 + QStyle::sliderPositionFromValue(minimum(), maximum(), hi, span);
    QPainter painter(this);
    const int mid = groove.center().y();
    painter.fillRect(QRect(QPoint(left, mid - 2), QPoint(right, mid + 2)), palette().color(QPalette::Highlight));
}
