#pragma once
#include <QSlider>
#include <QStyle>
#include <functional>

// A horizontal track bar that paints its selection range in the groove, as the
// live level meter (squelch bar) and the hang counter (delay bar) need.
class TTrackBar : public QSlider {
public:
    explicit TTrackBar(QWidget *parent = nullptr);

    int Position() const { return value(); }
    // Clamped to the range, as the bar's position always is.
    void SetPosition(int position) { setValue(position); }
    int SelStart() const { return FSelStart; }
    int SelEnd() const { return FSelEnd; }
    void SetSelStart(int value);
    void SetSelEnd(int value);

    // Where the selection shows, in the groove; empty when there is none.
    QRect SelectionRect() const;
    // Where the thumb shows.
    QRect ThumbRect() const;
    // A strong colour unlike the palette's highlight (the groove's fill up to
    // the thumb) and its greys: the level must stand out against the squelch
    // at any position.
    QColor SelectionColor() const;

    // The tooltip's text, asked for each time it shows: on hover, and at the
    // thumb whenever the user moves the bar (drag, keyboard, wheel, a click
    // in the groove). Unset: the plain tooltip, if any.
    std::function<QString()> ValueTip;

protected:
    void paintEvent(QPaintEvent *event) override;
    bool event(QEvent *event) override;

private:
    QRect StyleRect(QStyle::SubControl part) const;
    void ShowValueTip();

    int FSelStart = 0;
    int FSelEnd = 0;
};
