#pragma once
#include <QIcon>
#include <QString>

// One of the program's icon resources by name ("kotar_IDLE", "kotar_MAIN"...);
// an empty icon when it cannot be loaded.
QIcon LoadIconResource(const QString &name);
