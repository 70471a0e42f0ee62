#include "support/AboutDlg.h"
#include "support/AboutForm.h"
#include "support/Exception.h"

#include <QApplication>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QLabel>
#include <QPixmap>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <gtest/gtest.h>

namespace {

// What one showing of the About window looked like.
struct Shown {
    QString caption, product, copyright, programmer, website;
    QImage picture;
    QSize client;
    QRect panel1, panel2, image1, productRect, copyrightRect, programmerRect, websiteRect, okRect;
    int websiteWidth = 0; // the address's width on one line
    bool visible = false, modal = false, okDefault = false;
    bool closedByGuard = false;
    QPointer<TAboutBox> box;
};

QIcon Filled(QColor colour, int size = 32)
{
    QPixmap pixmap(size, size);
    pixmap.fill(colour);
    return QIcon(pixmap);
}

// Shows the box, records it while it runs modally and ends it with close.
Shown Show(TAboutDlg &dialog, const std::function<void(TAboutBox &)> &close = {})
{
    Shown shown;
    dialog.OnShow = [&](TAboutBox &box) {
        shown.box = &box;
        shown.caption = box.windowTitle();
        shown.product = box.ProductName->text();
        shown.copyright = box.Copyright->text();
        shown.programmer = box.Programmer->text();
        shown.website = box.Website->text();
        shown.picture = box.Image1->pixmap().toImage();
        shown.client = box.size();
        shown.panel1 = box.Panel1->geometry();
        shown.panel2 = box.Panel2->geometry();
        shown.image1 = box.Image1->geometry();
        shown.productRect = box.ProductName->geometry();
        shown.copyrightRect = box.Copyright->geometry();
        shown.programmerRect = box.Programmer->geometry();
        shown.websiteRect = box.Website->geometry();
        shown.websiteWidth = box.Website->fontMetrics().horizontalAdvance(shown.website);
        shown.okRect = box.OKButton->geometry();
        shown.okDefault = box.OKButton->isDefault();
        QTimer::singleShot(0, &box, [&, boxPointer = &box] {
            shown.visible = boxPointer->isVisible();
            shown.modal = boxPointer->isModal();
            if (close)
                close(*boxPointer);
            else
                boxPointer->OKButton->click();
        });
        // Only against a hang when closing fails.
        QTimer::singleShot(10000, &box, [&, boxPointer = &box] {
            shown.closedByGuard = true;
            boxPointer->reject();
        });
    };
    dialog.ShowAboutBox();
    return shown;
}

// No label reaches past the panel, nor the panel or the button past the
// window, and the button lies below the panel.
void ExpectInside(const Shown &shown)
{
    for (const QRect &label : {shown.productRect, shown.copyrightRect, shown.programmerRect, shown.websiteRect}) {
        EXPECT_LE(label.right(), shown.panel1.width()) << label.right();
        EXPECT_LE(label.bottom(), shown.panel1.height()) << label.bottom();
    }
    EXPECT_LE(shown.panel1.right(), shown.client.width());
    EXPECT_GT(shown.okRect.top(), shown.panel1.bottom());
    EXPECT_LE(shown.okRect.bottom(), shown.client.height());
}

bool AboutBoxLeft()
{
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (dynamic_cast<TAboutBox *>(widget))
            return true;
    return false;
}

} // namespace

TEST(AboutBox, EmptyTextsStillOpenInTheDesignLayout)
{
    TAboutDlg dialog(nullptr);
    const Shown shown = Show(dialog);
    EXPECT_TRUE(shown.visible);
    EXPECT_TRUE(shown.modal);
    EXPECT_FALSE(shown.closedByGuard);
    EXPECT_EQ(shown.caption, "");
    EXPECT_EQ(shown.product, "");
    EXPECT_EQ(shown.copyright, "");
    EXPECT_EQ(shown.programmer, "");
    EXPECT_EQ(shown.website, "");
    EXPECT_TRUE(shown.picture.isNull()) << "an empty icon leaves the picture blank";

    EXPECT_EQ(shown.client, QSize(296, 182));
    EXPECT_EQ(shown.panel1, QRect(8, 8, 281, 137));
    EXPECT_EQ(shown.panel2, QRect(8, 8, 50, 50));
    EXPECT_EQ(shown.image1, QRect(1, 1, 48, 48));
    EXPECT_EQ(shown.productRect.topLeft(), QPoint(64, 8));
    EXPECT_EQ(shown.copyrightRect.topLeft(), QPoint(64, 40));
    EXPECT_EQ(shown.programmerRect, QRect(64, 72, 59, shown.programmerRect.height()));
    EXPECT_EQ(shown.websiteRect.topLeft(), QPoint(64, 104));
    EXPECT_EQ(shown.okRect, QRect(111, 152, 75, 25));
    EXPECT_TRUE(shown.okDefault);
    EXPECT_TRUE(shown.box.isNull()) << "the window is disposed of when it closes";
}

TEST(AboutBox, TextsAndIconLandInTheirPlaces)
{
    TAboutDlg dialog(nullptr);
    dialog.Title = "Soundcard based Control VOX System";
    dialog.ProductName = "KOTARPlus 1.0.22";
    dialog.CopyRight = "KOTARPlus developers (N0CALL) 2026";
    dialog.Programmer = "Free software under the MIT licence";
    dialog.WebSite = "https://github.com/kotarplus/kotarplus";
    QIcon callers = Filled(Qt::red);
    dialog.Icon = callers;
    callers = Filled(Qt::blue); // the caller keeps its own icon

    const Shown shown = Show(dialog);
    EXPECT_EQ(shown.caption, dialog.Title);
    EXPECT_EQ(shown.product, dialog.ProductName);
    EXPECT_EQ(shown.copyright, dialog.CopyRight);
    EXPECT_EQ(shown.programmer, dialog.Programmer);
    EXPECT_EQ(shown.website, dialog.WebSite);
    ASSERT_EQ(shown.picture.size(), QSize(32, 32)) << "shown at its own size, not stretched";
    EXPECT_EQ(shown.picture.pixelColor(16, 16), QColor(Qt::red));
    EXPECT_EQ(dialog.Icon.pixmap(32, 32).toImage().pixelColor(16, 16), QColor(Qt::red));

    // The program's own texts fit: the licence line is not broken word by
    // word, the web address is one line and whole, and the window is wide
    // enough for its caption in the title bar's font with room for the
    // frame's buttons.
    const int line = shown.productRect.height();
    EXPECT_EQ(shown.programmerRect.height(), line);
    EXPECT_EQ(shown.websiteRect.height(), line);
    EXPECT_GE(shown.websiteRect.width(), shown.websiteWidth);
    QFont titleFont = QApplication::font("QMdiSubWindowTitleBar");
    titleFont.setBold(true);
    EXPECT_GE(shown.client.width(), QFontMetrics(titleFont).horizontalAdvance(shown.caption) + 60);
    ExpectInside(shown);

    // A licence line longer than the panel breaks between words and grows
    // downward; the address below moves down and everything stays inside.
    dialog.Programmer = "Free software under the MIT licence; the file LICENSE that comes with it says more";
    const Shown wrapped = Show(dialog);
    EXPECT_EQ(wrapped.programmerRect.height(), 2 * line);
    EXPECT_GE(wrapped.websiteRect.top(), wrapped.programmerRect.bottom());
    EXPECT_EQ(wrapped.websiteRect.height(), line);
    ExpectInside(wrapped);
}

TEST(AboutBox, OkEnterAndTheCloseBoxEachEndIt)
{
    TAboutDlg dialog(nullptr);
    const std::function<void(TAboutBox &)> closers[] = {
        [](TAboutBox &box) { box.OKButton->click(); },
        [](TAboutBox &box) {
            QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
            QApplication::sendEvent(&box, &enter);
        },
        [](TAboutBox &box) { box.close(); },
    };
    for (const auto &closer : closers) {
        const Shown shown = Show(dialog, closer);
        EXPECT_FALSE(shown.closedByGuard);
        EXPECT_TRUE(shown.box.isNull());
    }
    EXPECT_FALSE(AboutBoxLeft());
}

TEST(AboutBox, RunTwiceShowsTwoSeparateIdenticalWindows)
{
    TAboutDlg dialog(nullptr);
    dialog.Title = "T";
    dialog.ProductName = "P";
    dialog.Programmer = "a licence line long enough to wrap";
    dialog.Icon = Filled(Qt::green);
    const Shown first = Show(dialog, [](TAboutBox &box) {
        // Whatever happens to the first window must not reach the second.
        box.ProductName->setText("changed");
        box.setWindowTitle("changed");
        box.OKButton->click();
    });
    EXPECT_TRUE(first.box.isNull());
    EXPECT_FALSE(AboutBoxLeft());
    const Shown second = Show(dialog);
    EXPECT_TRUE(second.box.isNull());
    EXPECT_EQ(second.caption, first.caption);
    EXPECT_EQ(second.product, "P");
    EXPECT_EQ(second.programmer, first.programmer);
    EXPECT_EQ(second.picture, first.picture);
    EXPECT_EQ(second.client, first.client);
    EXPECT_EQ(second.programmerRect, first.programmerRect);
    EXPECT_EQ(second.okRect, first.okRect);
}

TEST(AboutBox, AFailingStepStillDisposesOfTheWindow)
{
    TAboutDlg dialog(nullptr);
    QPointer<TAboutBox> built;
    dialog.OnShow = [&](TAboutBox &box) {
        built = &box;
        throw Exception("failed");
    };
    EXPECT_THROW(dialog.ShowAboutBox(), Exception);
    EXPECT_TRUE(built.isNull());
    EXPECT_FALSE(AboutBoxLeft());
}
