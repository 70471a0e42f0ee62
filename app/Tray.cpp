#include "app/KOTARUnit.h"

#include "app/MenuState.h"
#include "support/ErrorReport.h"
#include "support/LEDButton.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QRadioButton>
#include <QSystemTrayIcon>

namespace {
// Every menu command goes through the error report, as a button's handler does.
template <class F> QAction *AddCommand(QMenu *menu, const QString &text, F command)
{
    QAction *item = menu->addAction(text);
    QObject::connect(item, &QAction::triggered, menu, [command] { ErrorReport::Guarded(command); });
    return item;
}
} // namespace

void TFormPlayer::BuildTrayMenu()
{
    TrayMenu = new QMenu(this);
    QAction *mute = AddCommand(TrayMenu, "Mute", [this] { LEDMuteButtonClick(); });
    QAction *tune = AddCommand(TrayMenu, "Tune", [this] { TuneButtonClick(); });
    AddCommand(TrayMenu, "COM Settings", [this] { CommSettingsButtonClick(); });
    AddCommand(TrayMenu, "OmniRig Settings", [this] { DialogVisible(); });
    AddCommand(TrayMenu, "Options", [this] { OptionsClick(); });
    QAction *rig1 = AddCommand(TrayMenu, ">> Rig1", [this] { SetRig1(); });
    QAction *rig2 = AddCommand(TrayMenu, ">> Rig2", [this] { SetRig2(); });
    AddCommand(TrayMenu, "About", [this] { AboutClick(); });
    AddCommand(TrayMenu, "Exit", [this] { ExitClick(); });
    ShowStateInMenu(TrayMenu, {{mute, [this] { return LEDMuteButton->LEDOn(); }},
                               {tune, [this] { return TuneButton->LEDOn(); }},
                               {rig1, [this] { return Rig1RadioButton->isChecked(); }},
                               {rig2, [this] { return Rig2RadioButton->isChecked(); }}});
}

void TFormPlayer::AddTrayIcon()
{
    // Not given a context menu: the right button's press is handled here, as
    // the tray message is, and every other mouse event is ignored.
    TrayIcon = new QSystemTrayIcon(QApplication::windowIcon(), this);
    TrayIcon->setToolTip("KOTARPlus");
    connect(TrayIcon, &QSystemTrayIcon::activated, this,
            [this](QSystemTrayIcon::ActivationReason reason) { HandleTrayMessage(reason); });
    TrayIcon->show();
}

void TFormPlayer::RemoveTrayIcon()
{
    if (TrayIcon)
        TrayIcon->hide();
}

void TFormPlayer::HandleTrayMessage(int reason)
{
    if (reason != QSystemTrayIcon::Context)
        return;
    raise();
    activateWindow();
    const QPoint cursor = QCursor::pos();
    if (isMinimized()) {
        showNormal();
        activateWindow();
    }
    TrayMenu->popup(cursor);
}
