#include "app/KOTARUnit.h"

#include "support/ErrorReport.h"

#include <QApplication>
#include <QCursor>
#include <QMenu>
#include <QSystemTrayIcon>

namespace {
// Every menu command goes through the error report, as a button's handler does.
template <class F> void AddCommand(QMenu *menu, const QString &text, F command)
{
    QObject::connect(menu->addAction(text), &QAction::triggered, menu,
                     [command] { ErrorReport::Guarded(command); });
}
} // namespace

void TFormPlayer::BuildTrayMenu()
{
    TrayMenu = new QMenu(this);
    AddCommand(TrayMenu, "Mute", [this] { LEDMuteButtonClick(); });
    AddCommand(TrayMenu, "Tune", [this] { TuneButtonClick(); });
    AddCommand(TrayMenu, "COM Settings", [this] { CommSettingsButtonClick(); });
    AddCommand(TrayMenu, "OmniRig Settings", [this] { DialogVisible(); });
    AddCommand(TrayMenu, ">> Rig1", [this] { SetRig1(); });
    AddCommand(TrayMenu, ">> Rig2", [this] { SetRig2(); });
    AddCommand(TrayMenu, "About", [this] { AboutClick(); });
    AddCommand(TrayMenu, "Exit", [this] { ExitClick(); });
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
