#include "app/KOTARUnit.h"

#include "support/ErrorReport.h"

#include <QContextMenuEvent>
#include <QMenu>

namespace {
void AddCommand(QMenu *menu, TFormPlayer *form, const QString &text, int command)
{
    QObject::connect(menu->addAction(text), &QAction::triggered, menu,
                     [form, command] { ErrorReport::Guarded([&] { form->HandleSystemCommand(command); }); });
}
} // namespace

void TFormPlayer::ModifySystemMenu()
{
    SystemMenu = new QMenu(this);
    AddCommand(SystemMenu, this, "&Quit\tAlt+F4", 667);
    SystemMenu->addSeparator();
    AddCommand(SystemMenu, this, "&Mute", 333);
    AddCommand(SystemMenu, this, "&Tune", 334);
    AddCommand(SystemMenu, this, "&COM Settings", 444);
    AddCommand(SystemMenu, this, "&OmniRig Settings", 555);
    SystemMenu->addSeparator();
    AddCommand(SystemMenu, this, "&About...", 666);
}

void TFormPlayer::contextMenuEvent(QContextMenuEvent *event)
{
    SystemMenu->popup(event->globalPos());
}

void TFormPlayer::HandleSystemCommand(int command)
{
    if (command == 666)
        AboutClick();
    if (command == 667)
        ExitClick();
    if (command == 333)
        LEDMuteButtonClick();
    if (command == 334)
        TuneButtonClick();
    if (command == 444)
        CommSettingsButtonClick();
    if (command == 555)
        DialogVisible();
}
