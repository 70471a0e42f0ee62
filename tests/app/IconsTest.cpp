#include "app/KOTARUnit.h"
#include "app/StateIcons.h"

#include "support/AboutDlg.h"
#include "support/AboutForm.h"
#include "TestSupport.h"

#include <QApplication>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QImage Picture(const QIcon &icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

// A pixel inside the microphone's head, clear of its grille and highlight.
QColor Microphone(const QIcon &icon) { return Picture(icon).pixelColor(12, 11); }
// The top-left dot of the "K" of the vertical lettering.
QColor Lettering(const QIcon &icon) { return Picture(icon).pixelColor(27, 1); }

} // namespace

TEST(Icons, EachResourceIsA32PixelMicrophoneInItsColour)
{
    const struct {
        const char *name;
        QColor microphone;
    } expected[] = {
        {"kotar_IDLE", QColor(0, 128, 0)},   {"kotar_MUTE", QColor(255, 0, 0)},
        {"kotar_OFF", QColor(128, 0, 0)},    {"kotar_ON", QColor(0, 255, 0)},
        {"kotar_TOUT", QColor(0, 255, 255)}, {"kotar_MAIN", QColor(0, 0, 255)},
    };
    for (const auto &icon : expected) {
        SCOPED_TRACE(icon.name);
        const QIcon loaded = LoadIconResource(icon.name);
        ASSERT_FALSE(loaded.isNull());
        EXPECT_EQ(loaded.availableSizes(), QList<QSize>{QSize(32, 32)});
        EXPECT_EQ(Microphone(loaded), icon.microphone);
        EXPECT_EQ(Lettering(loaded), QColor(255, 0, 0));
    }
    EXPECT_TRUE(LoadIconResource("kotar_NONE").isNull()) << "a missing resource gives an empty icon";
}

class FormIcons : public ::testing::Test {
protected:
    TemporaryWorkDir dir;
    RecordedDialogs dialogs;
    TFormPlayer form{QStringList()};
};

TEST_F(FormIcons, StartUpLoadsTheStateIconsAndShowsIdle)
{
    EXPECT_EQ(Microphone(form.IconIDLE), QColor(0, 128, 0));
    EXPECT_EQ(Microphone(form.IconMUTE), QColor(255, 0, 0));
    EXPECT_EQ(Microphone(form.IconOFF), QColor(128, 0, 0));
    EXPECT_EQ(Microphone(form.IconON), QColor(0, 255, 0));
    EXPECT_EQ(Microphone(form.IconTOUT), QColor(0, 255, 255));
    EXPECT_EQ(Picture(form.windowIcon()), Picture(form.IconIDLE));
    EXPECT_EQ(Picture(QApplication::windowIcon()), Picture(form.IconIDLE));

    form.ChangeStateIcon(form.IconON);
    EXPECT_EQ(Picture(form.windowIcon()), Picture(form.IconON));
    EXPECT_EQ(Picture(QApplication::windowIcon()), Picture(form.IconON));
    form.ShowIdleIcon();
    EXPECT_EQ(Picture(form.windowIcon()), Picture(form.IconIDLE));
    EXPECT_EQ(Picture(QApplication::windowIcon()), Picture(form.IconIDLE));
}

// Counts the window's icon changes, its own and the application's.
struct IconChanges : QObject {
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        count += event->type() == QEvent::WindowIconChange || event->type() == QEvent::ApplicationWindowIconChange;
        return false;
    }
};

// Keying steps ask for their icon every time (every 5 ms block with
// ATTACK=BLOCK); only a change of state may reach the desktop.
TEST_F(FormIcons, TheIconsAreSetOnlyWhenTheStateChanges)
{
    IconChanges changes;
    form.installEventFilter(&changes);
    UseSteppedClock(form);
    for (int step = 0; step < 5; ++step)
        form.ChangeStateIcon(form.IconON);
    const int onChanges = changes.count;
    EXPECT_GE(onChanges, 1);
    for (int step = 0; step < 5; ++step) {
        form.ChangeStateIcon(form.IconON);
        form.Keying->Core().KeyByBlock();
    }
    EXPECT_EQ(changes.count, onChanges) << "ON again: nothing set";
    DelayTick(form); // the hang (delay 0) runs out
    EXPECT_GT(changes.count, onChanges);
    EXPECT_EQ(Picture(form.windowIcon()), Picture(form.IconIDLE));
    EXPECT_EQ(Picture(QApplication::windowIcon()), Picture(form.IconIDLE));
    EXPECT_EQ(Picture(form.TrayIcon->icon()), Picture(form.IconIDLE));
    const int idleChanges = changes.count;
    form.ShowIdleIcon();
    EXPECT_EQ(changes.count, idleChanges) << "IDLE again: nothing set";
    form.removeEventFilter(&changes);
}

TEST_F(FormIcons, AboutDataCarryTheDesignTimeIconAndShowOnAbout)
{
    ASSERT_NE(form.AboutDialog, nullptr);
    EXPECT_EQ(form.AboutDialog->parent(), &form);
    EXPECT_EQ(form.AboutDialog->Title, "Soundcard based Control VOX System");
    EXPECT_EQ(form.AboutDialog->ProductName, "KOTARPlus 1.0.22");
    EXPECT_EQ(form.AboutDialog->WebSite, "https://github.com/kotarplus/kotarplus");
    EXPECT_EQ(Microphone(form.AboutDialog->Icon), QColor(0, 0, 255))
        << "filled from the application icon, which is then the window's design-time icon";

    QString caption;
    form.AboutDialog->OnShow = [&](TAboutBox &box) {
        caption = box.windowTitle();
        QTimer::singleShot(0, &box, [&box] { box.OKButton->click(); });
    };
    form.AboutClick();
    EXPECT_EQ(caption, "Soundcard based Control VOX System");
}
