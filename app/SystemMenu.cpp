#include "app/KOTARUnit.h"

#include "app/MenuState.h"
#include "support/ErrorReport.h"
#include "support/LEDButton.h"

#include <QContextMenuEvent>
#include <QMenu>

void TFormPlayer::ModifySystemMenu()
{
    // Each item carries its command number as its data; a choice dispatches
    // that number, so HandleSystemCommand stays the one table of commands.
    SystemMenu = new QMenu(this);
    const auto add = [this](const QString &text, int command) {
        QAction *item = SystemMenu->addAction(text);
        item->setData(command);
        return item;
    };
    add("&Quit\tAlt+F4", 667);
    SystemMenu->addSeparator();
    QAction *mute = add("&Mute", 333);
    QAction *tune = add("&Tune", 334);
    add("&COM Settings", 444);
    add("&OmniRig Settings", 555);
    add("O&ptions", 777); // O belongs to OmniRig Settings
    SystemMenu->addSeparator();
    add("&About...", 666);
    ShowStateInMenu(SystemMenu, {{mute, [this] { return LEDMuteButton->LEDOn(); }},
                                 {tune, [this] { return TuneButton->LEDOn(); }}});
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
    if (command == 777)
        OptionsClick();
}
