#pragma once

// The audio library; the capture arrives with the audio subsystem.
bool BASS_Free();
