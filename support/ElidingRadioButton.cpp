#include "support/ElidingRadioButton.h"

#include <QHelpEvent>
#include <QStyleOptionButton>
#include <QStylePainter>
#include <QToolTip>

TElidingRadioButton::TElidingRadioButton(const QString &caption, QWidget *parent) : QRadioButton(caption, parent) {}

QString TElidingRadioButton::ShownText() const
{
    QStyleOptionButton option;
    initStyleOption(&option);
    const QRect room = style()->subElementRect(QStyle::SE_RadioButtonContents, &option, this);
    return fontMetrics().elidedText(text(), Qt::ElideRight, room.width());
}

void TElidingRadioButton::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionButton option;
    initStyleOption(&option);
    option.text = ShownText();
    painter.drawControl(QStyle::CE_RadioButton, option);
}

QString TElidingRadioButton::ToolTipText() const
{
    const QString shown = ShownText();
    return shown == text() ? QString() : text();
}

bool TElidingRadioButton::event(QEvent *event)
{
    if (event->type() != QEvent::ToolTip)
        return QRadioButton::event(event);
    const QString tip = ToolTipText();
    if (tip.isEmpty())
        QToolTip::hideText();
    else
        QToolTip::showText(static_cast<QHelpEvent *>(event)->globalPos(), tip, this);
    return true;
}
