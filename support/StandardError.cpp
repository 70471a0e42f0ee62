#include "support/StandardError.h"

#include <cerrno>
#include <cstdio>

// Prefixed with the program's own name: kotarplus or kotarplusd.
void WriteStandardError(const QString &text)
{
    std::fprintf(stderr, "%s: %s\n", program_invocation_short_name, qPrintable(text));
}
