#include "app/MenuState.h"

#include <QAction>
#include <QMenu>

void ShowStateInMenu(QMenu *menu, const TStateItems &items)
{
    for (const auto &[item, state] : items)
        item->setCheckable(true);
    QObject::connect(menu, &QMenu::aboutToShow, menu, [items] {
        for (const auto &[item, state] : items)
            item->setChecked(state());
    });
}
