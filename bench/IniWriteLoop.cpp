// Writes one key of an INI file over and over, alternating two values, until
// killed (bench/ini-kill-loop.sh kills it at random moments).
#include "support/IniFile.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FILE\n", argv[0]);
        return 2;
    }
    TIniFile ini(QString::fromLocal8Bit(argv[1]));
    for (unsigned long n = 0;; ++n)
        ini.WriteString("SETTINGS", "GAIN", n % 2 ? "1" : "2");
}
