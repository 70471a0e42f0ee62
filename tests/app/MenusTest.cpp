// The tray icon, the tray menu and the window menu with its command numbers,
// on a main window whose serial port is a pseudo-terminal under the linesim
// line driver (LINESIM_DEVICE, LINESIM_LOG).
#include "FormPlayerFixture.h"
#include "app/OptionsDialog.h"
#include "LineSimPort.h"

#include "ptt/CPort.h"
#include "ptt/CPortSetup.h"
#include "ptt/RigSettingsDialog.h"
#include "support/AboutDlg.h"
#include "support/AboutForm.h"
#include "support/Application.h"
#include "support/Dialogs.h"
#include "support/ErrorReport.h"
#include "support/Exception.h"
#include "support/IniFile.h"
#include "support/LEDButton.h"
#include "support/Timer.h"

#include <QApplication>
#include <QComboBox>
#include <QSpinBox>
#include <QContextMenuEvent>
#include <QCursor>
#include <QFile>
#include <QGroupBox>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSystemTrayIcon>
#include <QTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

QImage Picture(const QIcon &icon) { return icon.pixmap(32, 32).toImage().convertToFormat(QImage::Format_ARGB32); }

// The menu's items top to bottom, a separator as "-".
QStringList Items(const QMenu *menu)
{
    QStringList items;
    for (const QAction *item : menu->actions())
        items << (item->isSeparator() ? QString("-") : item->text());
    return items;
}

QAction *Item(const QMenu *menu, const QString &text)
{
    for (QAction *item : menu->actions())
        if (item->text() == text)
            return item;
    ADD_FAILURE() << "no item " << text.toStdString();
    return nullptr;
}

class Menus : public ::testing::Test {
protected:
    void Start(const QString &ptt)
    {
        started = std::make_unique<StartedForm>("[SETTINGS]\nDELAY=500\nPTT=" + ptt + "\nCOMPORT=" + FDevice + "\n");
        form = started->form.get();
        Changes();
    }

    // Chooses the window menu's item that carries the command number.
    void Choose(int command)
    {
        for (QAction *item : form->SystemMenu->actions())
            if (!item->isSeparator() && item->data().toInt() == command)
                return item->trigger();
        ADD_FAILURE() << "no window menu item for " << command;
    }

    QStringList Changes() { return line.Changes(); }

    QString Written(const QString &key) const
    {
        return TIniFile(started->Ini()).ReadString("SETTINGS", key, "?");
    }

    TLineSimPort line;
    const QString FDevice = line.Device();
    std::unique_ptr<StartedForm> started;
    TFormPlayer *form = nullptr;
};

} // namespace

TEST_F(Menus, TrayMenuHasItsPlainItemsInOrder)
{
    Start("NONE");
    ASSERT_NE(form->TrayMenu, nullptr);
    EXPECT_EQ(Items(form->TrayMenu), QStringList({"Mute", "Tune", "COM Settings", "OmniRig Settings", "Options",
                                                  ">> Rig1", ">> Rig2", "About", "Exit"}));
    const QStringList states{"Mute", "Tune", ">> Rig1", ">> Rig2"};
    for (const QAction *item : form->TrayMenu->actions()) {
        SCOPED_TRACE(item->text().toStdString());
        EXPECT_EQ(item->isCheckable(), states.contains(item->text())) << "only states carry check marks";
        EXPECT_TRUE(item->shortcut().isEmpty());
        EXPECT_TRUE(item->isEnabled()) << "in PTT mode none too";
    }
    EXPECT_EQ(form->TrayMenu->parent(), form);
}

TEST_F(Menus, WindowMenuCarriesTheCommandNumbers)
{
    Start("NONE");
    ASSERT_NE(form->SystemMenu, nullptr);
    EXPECT_EQ(Items(form->SystemMenu), QStringList({"&Quit\tAlt+F4", "-", "&Mute", "&Tune", "&COM Settings",
                                                    "&OmniRig Settings", "O&ptions", "-", "&About..."}));
    QList<int> numbers;
    for (const QAction *item : form->SystemMenu->actions()) {
        EXPECT_TRUE(item->isEnabled());
        numbers << (item->isSeparator() ? 0 : item->data().toInt());
    }
    EXPECT_EQ(numbers, QList<int>({667, 0, 333, 334, 444, 555, 777, 0, 666}));
}

TEST_F(Menus, AboutShowsTheAboutBoxFromBothMenus)
{
    Start("NONE");
    QStringList captions;
    form->AboutDialog->OnShow = [&](TAboutBox &box) {
        captions << box.windowTitle();
        QTimer::singleShot(0, &box, [&box] { box.OKButton->click(); });
    };
    form->HandleSystemCommand(666);
    Choose(666);
    Item(form->TrayMenu, "About")->trigger();
    EXPECT_EQ(captions, QStringList(3, "Soundcard based Control VOX System"));
}

TEST_F(Menus, QuitAsksFirstAndOnOkRemovesTheTrayIconAndEnds)
{
    Start("NONE");
    ASSERT_TRUE(form->TrayIcon->isVisible());
    ASSERT_TRUE(QFile::remove(started->Ini()));
    started->dialogs.confirmAnswer = false;
    form->HandleSystemCommand(667);
    EXPECT_EQ(started->dialogs.questions, QStringList({"Warning!|Do you really want to exit?"}));
    EXPECT_EQ(started->terminated, 0);
    EXPECT_TRUE(form->TrayIcon->isVisible());
    EXPECT_FALSE(QFile::exists(started->Ini())) << "Cancel leaves everything as it was";

    started->dialogs.confirmAnswer = true;
    Choose(667);
    EXPECT_EQ(started->dialogs.questions.size(), 2);
    EXPECT_EQ(started->terminated, 1);
    EXPECT_FALSE(form->TrayIcon->isVisible());
    EXPECT_EQ(Written("PTT"), "NONE");
}

TEST_F(Menus, MuteAndTuneFromTheWindowMenuAndTheTrayMenu)
{
    Start("SERIAL");
    ASSERT_TRUE(form->PTTComPort->Connected());
    form->HandleSystemCommand(333);
    EXPECT_TRUE(form->LEDMuteButton->LEDOn());
    EXPECT_TRUE(form->TimerBlink->Enabled());
    Choose(333);
    EXPECT_FALSE(form->LEDMuteButton->LEDOn());
    Item(form->TrayMenu, "Mute")->trigger();
    EXPECT_TRUE(form->LEDMuteButton->LEDOn());
    Item(form->TrayMenu, "Mute")->trigger();
    EXPECT_FALSE(form->LEDMuteButton->LEDOn());
    Changes();

    form->HandleSystemCommand(334);
    EXPECT_TRUE(form->TuneButton->LEDOn());
    EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
    Choose(334);
    EXPECT_FALSE(form->TuneButton->LEDOn());
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));
    Item(form->TrayMenu, "Tune")->trigger();
    EXPECT_EQ(Changes(), QStringList({"DTR 1", "RTS 1"}));
    Item(form->TrayMenu, "Tune")->trigger();
    EXPECT_EQ(Changes(), QStringList({"DTR 0", "RTS 0"}));
    EXPECT_TRUE(started->dialogs.errors.isEmpty()) << started->dialogs.errors.join('\n').toStdString();
}

TEST_F(Menus, AReportNobodyAnswersLeavesMuteAndExitWorkingAndIsNotStacked)
{
    Start("SERIAL");
    form->show();
    // The real error boxes; Exit's question answered OK.
    Dialogs::SetHooks({{}, [](const QString &, const QString &) { return true; }, {}});
    const Exception stall("Rig-control server 127.0.0.1:4532 did not answer within 1 second");
    ErrorReport::ShowLater(stall);
    ErrorReport::ShowLater(stall);
    // Runs after both reports: with a modal box, inside its loop, where no
    // one answers it.
    QList<QMessageBox *> boxes;
    QStringList shown; // caption, text, whether critical
    QWidget *modal = nullptr;
    bool muted = false, unmuted = false;
    QTimer::singleShot(0, form, [&] {
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
                boxes << box;
        for (const QMessageBox *box : boxes)
            shown << box->windowTitle() << box->text() << QString::number(box->icon() == QMessageBox::Critical);
        modal = QApplication::activeModalWidget();
        form->LEDMuteButton->click();
        muted = form->LEDMuteButton->LEDOn();
        Item(form->TrayMenu, "Mute")->trigger();
        unmuted = !form->LEDMuteButton->LEDOn();
        for (QMessageBox *box : boxes)
            box->close();
    });
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    EXPECT_EQ(modal, nullptr) << "the report blocks the window";
    ASSERT_EQ(boxes.size(), 1) << "the same text is shown once";
    EXPECT_EQ(shown, QStringList({Application::Title(),
                                  "Rig-control server 127.0.0.1:4532 did not answer within 1 second.", "1"}));
    EXPECT_TRUE(muted && unmuted) << "Mute by a click and by the tray menu";

    // Exit works, and the process ends once the report has been read.
    ErrorReport::Show(stall);
    int terminatedWhileOpen = -1;
    // Read a little later: by then a process that did not wait has gone.
    QTimer::singleShot(100, form, [&] {
        terminatedWhileOpen = started->terminated;
        for (QWidget *window : QApplication::topLevelWidgets())
            if (auto *box = qobject_cast<QMessageBox *>(window); box && box->isVisible())
                box->close();
    });
    form->ExitClick();
    EXPECT_EQ(terminatedWhileOpen, 0);
    EXPECT_EQ(started->terminated, 1);
}

// The check marks as the menu shows them when it opens.
QStringList Checked(QMenu *menu)
{
    menu->popup(QPoint(0, 0));
    QStringList checked;
    for (const QAction *item : menu->actions())
        if (item->isChecked())
            checked << item->text();
    menu->hide();
    return checked;
}

TEST_F(Menus, CheckMarksFollowMuteTuneAndTheRig)
{
    Start("NONE");
    EXPECT_EQ(Checked(form->TrayMenu), QStringList({">> Rig1"}));
    EXPECT_EQ(Checked(form->SystemMenu), QStringList());
    Item(form->TrayMenu, "Mute")->trigger();
    Item(form->TrayMenu, ">> Rig2")->trigger();
    EXPECT_EQ(Checked(form->TrayMenu), QStringList({"Mute", ">> Rig2"}));
    EXPECT_EQ(Checked(form->SystemMenu), QStringList({"&Mute"}));
    // Changed outside the menus, by the window's own controls.
    form->LEDMuteButton->click();
    form->TuneButton->click();
    form->Rig1RadioButton->click();
    EXPECT_EQ(Checked(form->TrayMenu), QStringList({"Tune", ">> Rig1"}));
    EXPECT_EQ(Checked(form->SystemMenu), QStringList({"&Tune"}));
    Choose(334);
    EXPECT_EQ(Checked(form->TrayMenu), QStringList({">> Rig1"}));
    EXPECT_EQ(Checked(form->SystemMenu), QStringList());
}

TEST_F(Menus, OptionsWritesItsKeysAndCancelLeavesTheFileAsItWas)
{
    Start("NONE");
    QFile file(started->Ini());
    const auto bytes = [&] {
        file.open(QIODevice::ReadOnly);
        const QByteArray content = file.readAll();
        file.close();
        return content;
    };
    const QByteArray before = bytes();
    // The dialog runs modally: filled in and answered from inside its loop.
    const auto answerNextDialog = [&](bool ok, int timeout = 90) {
        QTimer::singleShot(0, form, [this, ok, timeout] {
            auto *dialog = dynamic_cast<TOptionsDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            EXPECT_EQ(dialog->windowTitle(), "Options");
            dialog->TimeoutEdit->setValue(timeout);
            dialog->AttackBox->setCurrentIndex(1);
            dialog->LeadEdit->setValue(120);
            ok ? dialog->accept() : dialog->reject();
        });
    };
    answerNextDialog(false);
    form->HandleSystemCommand(777);
    EXPECT_EQ(bytes(), before) << "Cancel writes nothing";
    EXPECT_EQ(form->TxTimeout, 0);
    EXPECT_FALSE(form->AttackByBlock);

    answerNextDialog(true);
    Item(form->TrayMenu, "Options")->trigger();
    EXPECT_EQ(Written("TIMEOUT"), "90");
    EXPECT_EQ(Written("ATTACK"), "BLOCK");
    EXPECT_EQ(Written("LEAD"), "120");
    EXPECT_EQ(Written("RELAY"), "?") << "no relay: the key stays out";
    EXPECT_EQ(form->TxTimeout, 90);
    EXPECT_TRUE(form->AttackByBlock);

    // Applied at once: a time-out set while Tune is on ends it.
    form->TuneButtonClick();
    ASSERT_TRUE(PumpUntil([&] { return form->KeyingState.Tune; }, std::chrono::seconds(5)));
    answerNextDialog(true, 1);
    form->HandleSystemCommand(777);
    EXPECT_TRUE(PumpUntil([&] { return !form->KeyingState.Tune; }, std::chrono::seconds(10)))
        << "the time-out set in Options did not reach the keying engine";
    EXPECT_TRUE(started->dialogs.errors.isEmpty()) << started->dialogs.errors.join('\n').toStdString();
}

TEST_F(Menus, ComSettingsCancelledStillWritesTheConfiguration)
{
    Start("SERIAL");
    ASSERT_TRUE(QFile::remove(started->Ini()));
    int shown = 0;
    form->PTTComPort->OnSetupDialogShow = [&](TComSetupFrm &dialog) {
        ++shown;
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.Button2->click(); });
    };
    form->HandleSystemCommand(444);
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(Written("COMPORT"), FDevice);
    EXPECT_EQ(Written("PTT"), "SERIAL");

    ASSERT_TRUE(QFile::remove(started->Ini()));
    Item(form->TrayMenu, "COM Settings")->trigger();
    EXPECT_EQ(shown, 2);
    EXPECT_EQ(Written("COMPORT"), FDevice);
}

TEST_F(Menus, OmniRigSettingsWithoutAClientOpenTheRigSettingsDialog)
{
    Start("NONE");
    ASSERT_EQ(form->OmniRigClient, nullptr);
    // The dialog runs modally: looked at and cancelled from inside its loop.
    QStringList shown;
    const auto cancelNextDialog = [&] {
        QTimer::singleShot(0, form, [&] {
            auto *dialog = dynamic_cast<TRigSettingsDialog *>(QApplication::activeModalWidget());
            if (!dialog)
                return;
            shown << dialog->windowTitle() + '|' + dialog->Rig1Edit->text() + '|' + dialog->Rig2Edit->text();
            dialog->reject();
        });
    };
    cancelNextDialog();
    form->HandleSystemCommand(555);
    cancelNextDialog();
    Item(form->TrayMenu, "OmniRig Settings")->trigger();
    EXPECT_EQ(shown, QStringList(2, "OmniRig Settings|127.0.0.1:4532|127.0.0.1:4534"));
    EXPECT_TRUE(started->dialogs.errors.isEmpty());
}

TEST_F(Menus, NumbersOutsideTheTableDoNothing)
{
    Start("NONE");
    for (int command : {0, 332, 335, 665, 668, 0xF060}) {
        form->HandleSystemCommand(command);
        EXPECT_FALSE(form->LEDMuteButton->LEDOn());
        EXPECT_FALSE(form->TuneButton->LEDOn());
    }
    EXPECT_TRUE(started->dialogs.questions.isEmpty());
    EXPECT_EQ(started->terminated, 0);
}

TEST_F(Menus, RigChoiceFromTheTrayMenuWorksInSerialModeWithTheRigsHidden)
{
    Start("SERIAL");
    ASSERT_TRUE(form->PTT_Serial->isChecked());
    ASSERT_TRUE(form->RigGroupBox->isHidden());
    Item(form->TrayMenu, ">> Rig2")->trigger();
    EXPECT_TRUE(form->Rig2RadioButton->isChecked());
    EXPECT_FALSE(form->Rig1RadioButton->isChecked());
    EXPECT_TRUE(form->RigGroupBox->isHidden());
    Item(form->TrayMenu, ">> Rig1")->trigger();
    EXPECT_TRUE(form->Rig1RadioButton->isChecked());
    EXPECT_FALSE(form->Rig2RadioButton->isChecked());
}

TEST_F(Menus, TrayIconFollowsEveryStateIconChangeAndKeepsItsTip)
{
    Start("NONE");
    ASSERT_NE(form->TrayIcon, nullptr);
    EXPECT_TRUE(form->TrayIcon->isVisible());
    EXPECT_EQ(form->TrayIcon->toolTip(), "KOTARPlus");
    EXPECT_EQ(Picture(form->TrayIcon->icon()), Picture(form->IconIDLE)) << "start-up ends showing IDLE";

    const auto expectShown = [&](const QIcon &icon, const char *state) {
        SCOPED_TRACE(state);
        EXPECT_EQ(Picture(form->TrayIcon->icon()), Picture(icon));
        EXPECT_EQ(Picture(form->windowIcon()), Picture(icon));
        EXPECT_EQ(Picture(QApplication::windowIcon()), Picture(icon));
        EXPECT_EQ(form->TrayIcon->toolTip(), "KOTARPlus");
    };
    form->HandleSystemCommand(333);
    expectShown(form->IconMUTE, "muted");
    form->TimerBlinkTimer();
    expectShown(form->IconOFF, "blink dark");
    form->TimerBlinkTimer();
    expectShown(form->IconMUTE, "blink lit");
    form->HandleSystemCommand(333);
    expectShown(form->IconIDLE, "unmuted");
    form->Keying->Core().KeyByBlock();
    expectShown(form->IconON, "keyed");
    form->ChangeStateIcon(form->IconTOUT);
    expectShown(form->IconTOUT, "any icon given");
}

TEST_F(Menus, OnlyTheRightButtonOnTheTrayIconActs)
{
    Start("NONE");
    form->show();
    form->showMinimized();
    ASSERT_TRUE(form->isMinimized());
    const QPoint cursor(300, 200);
    QCursor::setPos(cursor);
    for (auto reason : {QSystemTrayIcon::Trigger, QSystemTrayIcon::DoubleClick, QSystemTrayIcon::MiddleClick,
                        QSystemTrayIcon::Unknown}) {
        emit form->TrayIcon->activated(reason);
        EXPECT_TRUE(form->isMinimized()) << reason;
        EXPECT_FALSE(form->TrayMenu->isVisible()) << reason;
    }

    emit form->TrayIcon->activated(QSystemTrayIcon::Context);
    EXPECT_FALSE(form->isMinimized()) << "a minimised window comes back";
    EXPECT_TRUE(form->isVisible());
    ASSERT_TRUE(form->TrayMenu->isVisible());
    EXPECT_EQ(form->TrayMenu->pos(), cursor);
    form->TrayMenu->hide();

    // With the window open, only the menu opens.
    QCursor::setPos(cursor + QPoint(40, 30));
    form->HandleTrayMessage(QSystemTrayIcon::Context);
    EXPECT_FALSE(form->isMinimized());
    ASSERT_TRUE(form->TrayMenu->isVisible());
    EXPECT_EQ(form->TrayMenu->pos(), cursor + QPoint(40, 30));
    form->TrayMenu->hide();
}

TEST_F(Menus, RightClickOnTheWindowBackgroundOpensTheWindowMenu)
{
    Start("NONE");
    form->show();
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), QPoint(120, 90));
    QApplication::sendEvent(form, &event);
    ASSERT_TRUE(form->SystemMenu->isVisible());
    EXPECT_EQ(form->SystemMenu->pos(), QPoint(120, 90));
    form->SystemMenu->hide();
}
