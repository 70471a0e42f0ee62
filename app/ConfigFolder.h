#pragma once
#include <QString>

// The user's configuration folder of the program: $XDG_CONFIG_HOME/kotarplus
// when that variable holds an absolute path, else ~/.config/kotarplus.
QString UserConfigFolder();

// Makes the folder (and its parents) when missing, private to the user, and
// makes it the working directory, where the program keeps its files. Raises
// Exception when it cannot.
void EnterConfigFolder();
