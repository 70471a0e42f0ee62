#pragma once
#include <QSlider>

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

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    int FSelStart = 0;
    int FSelEnd = 0;
};
