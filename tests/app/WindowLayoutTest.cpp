// The main window as a user sees it: what is drawn can be read, nothing
// overlaps, nothing is cut.
#include "FormPlayerFixture.h"

#include "support/ElidingRadioButton.h"
#include "support/TrackBar.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QToolTip>
#include <QComboBox>
#include <gtest/gtest.h>

namespace {
int Distance(QColor a, QColor b)
{
    const int r = a.red() - b.red(), g = a.green() - b.green(), bl = a.blue() - b.blue();
    return r * r + g * g + bl * bl;
}
constexpr int Clearly = 80 * 80; // far enough apart to tell at a glance
} // namespace

TEST(WindowLayout, TheLevelStandsOutFromTheGrooveTheThumbAndTheBackground)
{
    StartedForm started("[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-no-port\n");
    TTrackBar *bar = started.form->SquelchTrack;
    const QColor background = bar->palette().color(QPalette::Window);
    // Silence (level 0) against a -6 dBFS tone (level 19, shown up to the
    // bar's end), with the squelch at its ends and in the middle: at 10 the
    // style fills the whole groove up to the thumb.
    for (int squelch : {0, 5, 10}) {
        SCOPED_TRACE(squelch);
        bar->SetPosition(squelch);
        bar->SetSelEnd(0);
        const QImage silence = bar->grab().toImage();
        bar->SetSelEnd(19);
        const QImage tone = bar->grab().toImage();
        const QRect selection = bar->SelectionRect();
        const QRect thumb = bar->ThumbRect();
        ASSERT_FALSE(selection.isEmpty());
        int checked = 0;
        for (int x = selection.left(); x <= selection.right(); x += 3) {
            const QPoint point(x, selection.center().y());
            if (thumb.adjusted(-1, -1, 1, 1).contains(point))
                continue;
            ++checked;
            EXPECT_EQ(tone.pixelColor(point), bar->SelectionColor()) << x;
            EXPECT_GT(Distance(tone.pixelColor(point), silence.pixelColor(point)), Clearly) << x;
            EXPECT_GT(Distance(tone.pixelColor(point), background), Clearly) << x;
        }
        EXPECT_GT(checked, 20);
        const QPoint onThumb(thumb.center().x(), selection.center().y());
        EXPECT_EQ(tone.pixelColor(onThumb), silence.pixelColor(onThumb)) << "the thumb stays on top";
        EXPECT_GT(Distance(bar->SelectionColor(), bar->palette().color(QPalette::Highlight)), Clearly);
    }
}

TEST(WindowLayout, CaptionsShowWholeBesideTheirControlsAndRigTypesElide)
{
    StartedForm started("[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-no-port\n");
    TFormPlayer &form = *started.form;
    const std::pair<QLabel *, QWidget *> captions[] = {
        {form.Label1, form.SquelchTrack}, {form.Label2, form.TrackDelay}, {form.Label3, form.ComboSoundCard}};
    for (const auto &[label, control] : captions) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_GE(label->width(), label->fontMetrics().horizontalAdvance(label->text()));
        EXPECT_GE(label->x(), 0);
        EXPECT_LT(label->geometry().right(), control->x());
        EXPECT_EQ(label->y(), control == form.ComboSoundCard ? 210 : control->y() + 8);
    }

    auto *rig = dynamic_cast<TElidingRadioButton *>(form.Rig1RadioButton);
    ASSERT_NE(rig, nullptr);
    EXPECT_EQ(rig->ShownText(), "Rig1");
    EXPECT_EQ(rig->ToolTipText(), "");
    rig->setText("Hamlib Dummy");
    EXPECT_TRUE(rig->ShownText().endsWith(QChar(0x2026))) << rig->ShownText().toStdString();
    EXPECT_LE(rig->fontMetrics().horizontalAdvance(rig->ShownText()), rig->width());
    EXPECT_EQ(rig->ToolTipText(), "Hamlib Dummy");
    EXPECT_EQ(rig->text(), "Hamlib Dummy") << "the caption itself stays whole";
}

// The bars show their values: on hover, and while the user moves them.
TEST(WindowLayout, TheBarsTooltipsGiveTheirValuesAlsoWhileMoved)
{
    StartedForm started("[SETTINGS]\nPTT=NONE\nCOMPORT=/nonexistent/kotar-no-port\nGAIN=4\nDELAY=250\n");
    TFormPlayer &form = *started.form;
    EXPECT_EQ(form.SquelchTrack->ValueTip(),
              "Squelch 4: keys at level 4 or more\nLevel now: no capture");
    EXPECT_EQ(form.TrackDelay->ValueTip(), "Delay 250 ms: releases 300 ms after the sound");

    form.show();
    // Shown at once, not faded in.
    QApplication::setEffectEnabled(Qt::UI_FadeTooltip, false);
    QApplication::setEffectEnabled(Qt::UI_AnimateTooltip, false);
    for (TTrackBar *bar : {form.SquelchTrack, form.TrackDelay}) {
        bar->setFocus();
        // Activation and focus first: a tip hides on either.
        QCoreApplication::processEvents();
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Right, Qt::NoModifier);
        QApplication::sendEvent(bar, &press);
        QCoreApplication::processEvents();
        EXPECT_TRUE(QToolTip::isVisible());
        EXPECT_EQ(QToolTip::text(), bar->ValueTip()) << "the tip follows the keyboard";
        QToolTip::hideText();
    }
    EXPECT_TRUE(form.SquelchTrack->ValueTip().startsWith("Squelch 5:"));
    EXPECT_TRUE(form.TrackDelay->ValueTip().startsWith("Delay 251 ms: releases 300 ms"));
}
