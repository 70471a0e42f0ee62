#pragma once
#include "support/Colors.h"

#include <QImage>
#include <QWidget>

// A paint box: a surface that others draw on. It keeps the last picture and
// shows it whenever the window system asks; nothing else renews it.
class TPaintBox : public QWidget {
public:
    explicit TPaintBox(TColor color, QWidget *parent = nullptr);

    // Copies a picture onto the surface at (0, 0), replacing what was there.
    void CopyPicture(const QImage &picture);
    const QImage &Canvas() const { return FCanvas; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TColor FColor;
    QImage FCanvas;
    QImage FLastPicture;
};
