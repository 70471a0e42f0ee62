#pragma once
// The squelch at which speech from espeak-ng at its default volume keys; the
// level figures of bench/keying-figures.sh show where it lies.
constexpr int SpeechSquelch = 3;
