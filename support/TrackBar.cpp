#include "support/TrackBar.h"

#include <QHelpEvent>
#include <QPainter>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QToolTip>
#include <algorithm>

TTrackBar::TTrackBar(QWidget *parent) : QSlider(Qt::Horizontal, parent)
{
    setTickPosition(QSlider::TicksBelow);
    // A user's action comes before the value it sets: the tip follows once
    // the action has been applied.
    connect(this, &QAbstractSlider::actionTriggered, this,
            [this] { QMetaObject::invokeMethod(this, [this] { ShowValueTip(); }, Qt::QueuedConnection); });
}

void TTrackBar::ShowValueTip()
{
    if (ValueTip && isVisible())
        QToolTip::showText(mapToGlobal(ThumbRect().topLeft()), ValueTip(), this);
}

bool TTrackBar::event(QEvent *event)
{
    if (event->type() == QEvent::ToolTip && ValueTip) {
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), ValueTip(), this);
        return true;
    }
    return QSlider::event(event);
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

// The groove and ticks first, the selection in the groove, the thumb on top:
// the selection is a meter read against the thumb, so the thumb never hides
// under it.
void TTrackBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
    const QRect selection = SelectionRect();
    if (!selection.isEmpty())
        painter.fillRect(selection, SelectionColor());
    option.subControls = QStyle::SC_SliderHandle;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}

QColor TTrackBar::SelectionColor() const
{
    const QColor highlight = palette().color(QPalette::Highlight);
    const auto distance = [&](const QColor &c) {
        const int r = c.red() - highlight.red(), g = c.green() - highlight.green(), b = c.blue() - highlight.blue();
        return r * r + g * g + b * b;
    };
    const QColor orange(230, 100, 0), green(0, 150, 40);
    return distance(orange) >= distance(green) ? orange : green;
}

QRect TTrackBar::StyleRect(QStyle::SubControl part) const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    return style()->subControlRect(QStyle::CC_Slider, &option, part, this);
}

QRect TTrackBar::ThumbRect() const { return StyleRect(QStyle::SC_SliderHandle); }

QRect TTrackBar::SelectionRect() const
{
    const int lo = std::clamp(std::min(FSelStart, FSelEnd), minimum(), maximum());
    const int hi = std::clamp(std::max(FSelStart, FSelEnd), minimum(), maximum());
    if (hi <= lo)
        return {};
    const QRect groove = StyleRect(QStyle::SC_SliderGroove);
    const QRect handle = ThumbRect();
    const int span = groove.width() - handle.width();
    const int x0 = groove.left() + handle.width() / 2;
    const int left = x0 + QStyle::sliderPositionFromValue(minimum(), maximum(), lo, span);
    const int right = x0 + QStyle::sliderPositionFromValue(minimum(), maximum(), hi, span);
    const int mid = groove.center().y();
    return QRect(QPoint(left, mid - 2), QPoint(right, mid + 2));
}
