#include "support/StandardError.h"

#include <cstdio>

void WriteStandardError(const QString &text) { std::fprintf(stderr, "kotarplus: %s\n", qPrintable(text)); }
