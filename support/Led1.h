#pragma once
#include "support/Colors.h"

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <functional>

enum TLedStyle { lsGradient1, lsGradient2, lsAlternative };

// An indicator lamp: a rounded rectangle filled with a gradient or with
// alternating rings, in one colour pair while on and another while off.
// It draws into an image of its own that stands for the parent's surface
// under the lamp; a setter that changes the look draws at once, and the
// widget shows the image when the window system asks for it.
class TLed : public QWidget {
public:
    explicit TLed(QWidget *owner = nullptr);

    TLedStyle Style() const { return FStyle; }
    void SetStyle(TLedStyle value);
    TColor Color1() const { return FColor1; }
    void SetColor1(TColor value);
    TColor Color2() const { return FColor2; }
    void SetColor2(TColor value);
    TColor OffColor1() const { return FOffColor1; }
    void SetOffColor1(TColor value);
    TColor OffColor2() const { return FOffColor2; }
    void SetOffColor2(TColor value);
    uint8_t Radius() const { return FRadius; }
    void SetRadius(uint8_t value);
    bool On() const { return FOn; }
    void SetOn(bool value);
    bool DiagShining() const { return FDiagShining; }
    void SetDiagShining(bool value);
    bool ClickAction() const { return FClickAction; }
    void SetClickAction(bool value) { FClickAction = value; }
    bool DblClickAction() const { return FDblClickAction; }
    void SetDblClickAction(bool value) { FDblClickAction = value; }

    // Draws the lamp onto its surface now and has the widget show it.
    void Paint();
    // The lamp's surface: pixels no rectangle has covered stay transparent,
    // so the parent shows through them.
    const QImage &Surface() const { return FSurface; }
    // How often the lamp has been drawn.
    int PaintCount() const { return FPaintCount; }

    // A click and a double click: toggle On when their action is set, then
    // call the attached handler.
    void Click();
    void DblClick();
    std::function<void()> OnClick;
    std::function<void()> OnDblClick;

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    template <class T> void Change(T &field, T value);
    void Draw();
    void DrawGradient(class QPainter &painter, TColor outer, TColor inner);
    void DrawAlternative(class QPainter &painter, TColor outer, TColor inner);
    void DrawRectangle(QPainter &painter, int x1, int y1, int x2, int y2);

    TLedStyle FStyle = lsGradient2;
    TColor FColor1 = clBlack;
    TColor FColor2 = clYellow;
    TColor FOffColor1 = clBlack;
    TColor FOffColor2 = clWhite;
    uint8_t FRadius = 1;
    bool FOn = false;
    bool FDiagShining = false;
    bool FClickAction = false;
    bool FDblClickAction = false;

    // The drawing surface and the state it keeps between drawings: the fill
    // colour (white until something sets it).
    QImage FSurface;
    TColor FPenColor = clBlack;
    TColor FFillColor = clWhite;
    int FPaintCount = 0;
    bool FPressed = false;
};
