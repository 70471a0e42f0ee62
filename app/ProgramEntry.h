#pragma once
#include "app/CommandLine.h"

#include <optional>

// What both programs answer before they set anything up: --help, --version,
// a mistyped option, a question to the running instance, and the move into
// the configuration folder. The exit status when the program is done; none
// when it is to run.
std::optional<int> AnswerCommandLine(const TCommandLine &line);
