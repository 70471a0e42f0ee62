#pragma once
#include "audio/PulseServer.h"

#include <string>

// The virtual output that programs play into for the relay: a null sink
// "kotarplus_tx" ("KOTARPlus TX"), whose monitor the program records. Loaded
// through the server when missing and left there at exit, so that other
// programs' settings naming it stay valid.
namespace TxSink {

constexpr const char *Name = "kotarplus_tx";

// With the loop's lock held; waits for the server. The empty text when the
// sink is there (or was loaded now), otherwise why it could not be loaded.
std::string Ensure(TPulseServer &server);

} // namespace TxSink
