#pragma once
#include <QList>
#include <functional>
#include <utility>

class QAction;
class QMenu;

// Menu items that show a state (on or off) with a check mark. The marks are
// set each time the menu opens, so they follow every way the state changes.
using TStateItems = QList<std::pair<QAction *, std::function<bool()>>>;
void ShowStateInMenu(QMenu *menu, const TStateItems &items);
