#include "TestSupport.h"
#include "app/KOTARUnit.h"
#include "support/LEDButton.h"
#include "support/Led1.h"

#include <QMouseEvent>
#include <QApplication>
#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace {

// The colour of a lamp pixel, or -1 where nothing was drawn.
long long PixelColor(const TLed &led, int x, int y)
{
    const QRgb pixel = led.Surface().pixel(x, y);
    if (qAlpha(pixel) == 0)
        return -1;
    EXPECT_EQ(qAlpha(pixel), 255) << x << "," << y;
    return RGBColor(qRed(pixel), qGreen(pixel), qBlue(pixel));
}

std::vector<TColor> Greens(std::initializer_list<int> values)
{
    std::vector<TColor> colors;
    for (int value : values)
        colors.push_back(RGBColor(0, value, 0));
    return colors;
}

std::vector<TColor> Steps(int first, int step, int count, std::function<TColor(int)> make)
{
    std::vector<TColor> colors;
    for (int i = 0; i < count; ++i)
        colors.push_back(make(first + i * step));
    return colors;
}

// A gradient lamp is concentric one-pixel rings, the ring of pixel (x, y)
// being how far it lies inside the rectangles' area (the lamp less its last
// column and row). Every pixel of that area is drawn, and nothing outside it:
// no stray line pokes into the last column and row, so the lamp is whole.
void ExpectRings(const TLed &led, const std::vector<TColor> &rings)
{
    const int w = led.width();
    const int h = led.height();
    ASSERT_EQ(led.Surface().size(), QSize(w, h));
    for (int y = 0; y < h - 1; ++y)
        for (int x = 0; x < w - 1; ++x) {
            const size_t ring = std::min({x, y, w - 2 - x, h - 2 - y});
            ASSERT_LT(ring, rings.size()) << x << "," << y;
            ASSERT_EQ(PixelColor(led, x, y), rings[ring]) << "ring " << ring << " at " << x << "," << y;
        }
    for (int x = 0; x < w; ++x)
        for (int y = 0; y < h; ++y) {
            if (x == w - 1 || y == h - 1) {
                EXPECT_EQ(PixelColor(led, x, y), -1) << x << "," << y;
            }
        }
}

// A lamp whose setters have painted it along the way.
std::unique_ptr<TLed> Lamp(int w, int h, TLedStyle style, TColor a, TColor b, bool on = true)
{
    auto led = std::make_unique<TLed>();
    led->resize(w, h);
    led->SetStyle(style);
    led->SetColor1(a);
    led->SetColor2(b);
    led->SetOffColor1(a);
    led->SetOffColor2(b);
    led->SetOn(on);
    led->Paint();
    return led;
}

void Click(QWidget *widget, bool twice)
{
    const QPointF at(2, 2);
    QMouseEvent press(QEvent::MouseButtonPress, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
    QMouseEvent release(QEvent::MouseButtonRelease, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::NoButton, {});
    QApplication::sendEvent(widget, &press);
    QApplication::sendEvent(widget, &release);
    if (twice) {
        QMouseEvent dbl(QEvent::MouseButtonDblClick, at, widget->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton, {});
        QApplication::sendEvent(widget, &dbl);
        QApplication::sendEvent(widget, &release);
    }
}

} // namespace

TEST(Led, VoxLampRingsOnOffAndMuted)
{
    auto led = std::make_unique<TLed>();
    led->resize(73, 17);
    led->SetColor1(clGreen);
    led->SetColor2(clLime);
    led->SetOffColor2(clGreen);
    led->Paint();
    // Off: black to green in steps of 16. The ninth ring, (8,8)-(64,8), has no
    // height, so the middle rows keep the eighth.
    ExpectRings(*led, Greens({0, 16, 32, 48, 64, 80, 96, 112}));
    led->SetOn(true);
    ExpectRings(*led, Greens({128, 143, 158, 173, 188, 203, 218, 233}));
    led->SetColor1(clMaroon);
    led->SetColor2(clRed);
    ExpectRings(*led, Steps(128, 15, 8, [](int v) { return RGBColor(v, 0, 0); }));

    // One row more and the ninth ring shows: the full run up to 248.
    auto taller = Lamp(73, 18, lsGradient2, clGreen, clLime);
    ExpectRings(*taller, Greens({128, 143, 158, 173, 188, 203, 218, 233, 248}));
    taller = Lamp(73, 18, lsGradient2, clMaroon, clRed);
    ExpectRings(*taller, Steps(128, 15, 9, [](int v) { return RGBColor(v, 0, 0); }));
}

TEST(Led, LampCreatedAlone)
{
    TLed led;
    EXPECT_EQ(led.size(), QSize(10, 33));
    EXPECT_EQ(led.Style(), lsGradient2);
    EXPECT_FALSE(led.On());
    EXPECT_EQ(led.Radius(), 1);
    EXPECT_FALSE(led.DiagShining());
    EXPECT_FALSE(led.ClickAction());
    EXPECT_FALSE(led.DblClickAction());
    EXPECT_EQ(led.PaintCount(), 0) << "creation does not paint";
    led.Paint();
    ExpectRings(led, Steps(0, 63, 5, [](int v) { return RGBColor(v, v, v); }));
    led.SetOn(true);
    ExpectRings(led, Steps(0, 63, 5, [](int v) { return RGBColor(v, v, 0); }));
}

TEST(Led, GradientChannelArithmetic)
{
    // 255 down to 128 over h = 8: -127 / 8 truncates to -15.
    auto falling = Lamp(73, 18, lsGradient2, clRed, clMaroon);
    ExpectRings(*falling, Steps(255, -15, 9, [](int v) { return RGBColor(v, 0, 0); }));
    // Equal colours: one flat colour.
    auto flat = Lamp(20, 20, lsGradient1, RGBColor(10, 20, 30), RGBColor(10, 20, 30));
    ExpectRings(*flat, std::vector<TColor>(10, RGBColor(10, 20, 30)));
    // On a square lamp both gradient styles draw alike.
    EXPECT_EQ(Lamp(14, 14, lsGradient1, clBlack, clGreen)->Surface(),
              Lamp(14, 14, lsGradient2, clBlack, clGreen)->Surface());
    // h = 0 on a lamp 2 or 3 pixels across: one flat ring in the outer colour.
    for (int size : {2, 3}) {
        auto tiny = Lamp(size, size, lsGradient1, clRed, clWhite);
        ExpectRings(*tiny, {clRed});
    }
    // lsGradient1 runs across the wider side and lsGradient2 the narrower:
    // on 10 x 33 the first ends far short of white, the second reaches 252.
    auto wide = Lamp(10, 33, lsGradient1, clBlack, clWhite);
    auto narrow = Lamp(10, 33, lsGradient2, clBlack, clWhite);
    EXPECT_EQ(PixelColor(*narrow, 4, 16), RGBColor(252, 252, 252));
    EXPECT_EQ(PixelColor(*wide, 4, 16), RGBColor(15 * 15, 15 * 15, 15 * 15)) << "ring 15 of 16, step 15";
}

TEST(Led, AlternatingRingsCountOnlyTheWidth)
{
    const TColor a = clRed;
    const TColor b = clYellow;
    // Three rounds on a 10-wide lamp: the sixth rectangle (pen B) is the last
    // to cover the centre column, whatever the height. A fourth round would
    // leave it in A.
    for (int h : {5, 10, 33, 60}) {
        auto led = Lamp(10, h, lsAlternative, a, b);
        const int y = (h - 2) / 2;
        EXPECT_EQ(PixelColor(*led, 4, y), b) << "height " << h;
    }
    auto led = Lamp(10, 33, lsAlternative, a, b);
    const std::vector<long long> row{a, b, a, b, b, b, a, b, a, -1};
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(PixelColor(*led, x, 16), row[x]) << x;
    // No diagonal in this style: the last row stays undrawn.
    for (int x = 0; x < 10; ++x)
        EXPECT_EQ(PixelColor(*led, x, 32), -1) << x;
}

TEST(Led, DiagShiningKeepsTheSurfaceFill)
{
    // Each ring's rounded corners leave a little of the ring outside it in
    // view: its fill. With DiagShining the fill is the surface's, white on a
    // lamp that has never drawn without it.
    auto make = [](bool shining) {
        auto led = std::make_unique<TLed>();
        led->resize(30, 30);
        led->SetDiagShining(shining);
        led->SetRadius(10);
        led->SetColor1(clGreen);
        led->SetColor2(clLime);
        led->SetOn(true);
        return led;
    };
    auto plain = make(false);
    auto shining = make(true);
    int whitePlain = 0, whiteShining = 0;
    for (int y = 0; y < 29; ++y)
        for (int x = 0; x < 29; ++x) {
            whitePlain += PixelColor(*plain, x, y) == clWhite;
            whiteShining += PixelColor(*shining, x, y) == clWhite;
        }
    EXPECT_EQ(whitePlain, 0);
    EXPECT_GT(whiteShining, 0);
    EXPECT_EQ(PixelColor(*shining, 14, 0), clGreen) << "outlines keep their ring colours";
    EXPECT_EQ(PixelColor(*plain, 14, 0), clGreen);
}

TEST(Led, SettersPaintOnlyOnChange)
{
    TLed led;
    struct Setter {
        const char *name;
        std::function<void(bool)> set; // false: the value it has; true: another
    };
    const std::vector<Setter> setters{
        {"Style", [&](bool c) { led.SetStyle(c ? lsAlternative : led.Style()); }},
        {"Color1", [&](bool c) { led.SetColor1(c ? clRed : led.Color1()); }},
        {"Color2", [&](bool c) { led.SetColor2(c ? clRed : led.Color2()); }},
        {"OffColor1", [&](bool c) { led.SetOffColor1(c ? clRed : led.OffColor1()); }},
        {"OffColor2", [&](bool c) { led.SetOffColor2(c ? clRed : led.OffColor2()); }},
        {"Radius", [&](bool c) { led.SetRadius(c ? 4 : led.Radius()); }},
        {"On", [&](bool c) { led.SetOn(c ? !led.On() : led.On()); }},
        {"DiagShining", [&](bool c) { led.SetDiagShining(c ? !led.DiagShining() : led.DiagShining()); }},
    };
    for (const Setter &setter : setters) {
        const int before = led.PaintCount();
        setter.set(false);
        EXPECT_EQ(led.PaintCount(), before) << setter.name << " unchanged";
        setter.set(true);
        EXPECT_EQ(led.PaintCount(), before + 1) << setter.name << " changed";
    }
    const int before = led.PaintCount();
    led.SetClickAction(true);
    led.SetDblClickAction(true);
    led.SetClickAction(false);
    EXPECT_EQ(led.PaintCount(), before);
}

TEST(Led, ClickActionsToggleAndPaint)
{
    TLed led;
    int clicks = 0, doubles = 0;
    led.OnClick = [&] { ++clicks; };
    led.OnDblClick = [&] { ++doubles; };
    Click(&led, false);
    EXPECT_FALSE(led.On());
    EXPECT_EQ(led.PaintCount(), 0);
    EXPECT_EQ(clicks, 1);

    led.SetClickAction(true);
    Click(&led, false);
    EXPECT_TRUE(led.On());
    EXPECT_EQ(led.PaintCount(), 1);
    EXPECT_EQ(PixelColor(led, 0, 0), clBlack);
    EXPECT_EQ(PixelColor(led, 4, 16), RGBColor(252, 252, 0)) << "lit: black to yellow";

    // A double click is a click, then the double click: with only the double
    // click action set, the lamp toggles once.
    led.SetClickAction(false);
    led.SetDblClickAction(true);
    Click(&led, true);
    EXPECT_FALSE(led.On());
    EXPECT_EQ(led.PaintCount(), 2);
    EXPECT_EQ(doubles, 1);
    EXPECT_EQ(PixelColor(led, 4, 16), RGBColor(252, 252, 252));

    // Other buttons are left to the parent's pop-up menus.
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(2, 2), QPointF(2, 2), Qt::RightButton, Qt::RightButton, {});
    QApplication::sendEvent(&led, &right);
    EXPECT_FALSE(right.isAccepted());
}

TEST(LEDButton, NewButtonAndForwarding)
{
    QWidget owner;
    auto *button = new TLEDButton(&owner);
    EXPECT_EQ(button->parentWidget(), &owner);
    TLed *led = button->Led();
    EXPECT_EQ(led->parentWidget(), button);
    EXPECT_EQ(led->geometry(), QRect(7, 6, 14, 14));
    EXPECT_EQ(led->Style(), lsGradient1);
    EXPECT_TRUE(button->LEDOn());
    EXPECT_EQ(button->LEDColor1(), clGreen);
    EXPECT_EQ(button->LEDColor2(), clLime);
    EXPECT_EQ(button->LEDOffColor1(), clBlack);
    EXPECT_EQ(button->LEDOffColor2(), clWhite);
    ExpectRings(*led, Greens({128, 149, 170, 191, 212, 233, 254}));

    const int painted = led->PaintCount();
    button->SetLEDColor1(clGreen);
    EXPECT_EQ(led->PaintCount(), painted);
    button->SetLEDColor1(clBlack);
    EXPECT_EQ(led->PaintCount(), painted + 1);
    led->SetOn(false);
    EXPECT_FALSE(button->LEDOn());

    // Pressing the button does not toggle its lamp; the press reaches the
    // button even on the lamp.
    int clicked = 0;
    QObject::connect(button, &QPushButton::clicked, [&] { ++clicked; });
    owner.show();
    Click(button, false);
    EXPECT_EQ(clicked, 1);
    EXPECT_FALSE(button->LEDOn());
    EXPECT_EQ(button->childAt(10, 10), nullptr) << "the lamp lets presses through";
}

TEST(LEDButton, MainWindowLamps)
{
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    TFormPlayer form({});
    form.Terminate = [] {};
    EXPECT_EQ(form.VOXLed->geometry(), QRect(154, 304, 73, 17));
    EXPECT_EQ(form.VOXLed->Style(), lsGradient2);
    EXPECT_FALSE(form.VOXLed->On());
    ExpectRings(*form.VOXLed, Greens({0, 16, 32, 48, 64, 80, 96, 112}));

    for (auto [button, caption, rect] : {std::tuple{form.LEDMuteButton, "Mute", QRect(16, 334, 105, 33)},
                                         std::tuple{form.TuneButton, "Tune", QRect(136, 334, 105, 33)}}) {
        EXPECT_EQ(button->text(), caption);
        EXPECT_EQ(button->geometry(), rect);
        EXPECT_TRUE(button->font().bold());
        EXPECT_FALSE(button->LEDOn());
        EXPECT_EQ(button->LEDOffColor2(), clGreen);
        EXPECT_EQ(button->Led()->geometry(), QRect(7, 6, 14, 14));
        ExpectRings(*button->Led(), Greens({0, 21, 42, 63, 84, 105, 126}));
    }
}
