#include "app/KOTARUnit.h"

#include "support/ErrorReport.h"

#include <QContextMenuEvent>
#include <QMenu>

void TFormPlayer::ModifySystemMenu()
{
    // Each item carries its command number as its data; a choice dispatches
    // that number, so HandleSystemCommand stays the one table of commands.
    SystemMenu = new QMenu(this);
    const auto add = [this](const QString &text, int command) { SystemMenu->addAction(text)->setData(command); };
    add("&Quit\tAlt+F4", 667);
    SystemMenu->addSeparator();
    add("&Mute", 333);
    add("&Tune", 334);
    add("&COM Settings", 444);
    add("&OmniRig Settings", 555);
    SystemMenu->addSeparator();
    add("&About...", 666);
    connect(SystemMenu, &QMenu::triggered, this, [this](QAction *item) {
        ErrorReport::Guarded([&] { HandleSystemCommand(item->data().toInt()); });
    });
}

void TFormPlayer::contextMenuEvent(QContextMenuEvent *event)
{
    SystemMenu->popup(event->globalPos());
}

void TFormPlayer::HandleSystemCommand(int command)
{
    if (command == 666)
        About();
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
