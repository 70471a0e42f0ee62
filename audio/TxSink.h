#pragma once
#include "audio/PulseServer.h"

#include <functional>
#include <string>

// The virtual output that programs play into for the relay: a null sink
// "kotarplus_tx" ("KOTARPlus TX"), whose monitor the program records. Loaded
// through the server when missing and left there at exit, so that other
// programs' settings naming it stay valid.
namespace TxSink {

constexpr const char *Name = "kotarplus_tx";

// With the loop's lock held: asks whether the sink is there and loads it when
// it is not; returns at once. `failed` is called on the loop thread with why
// it could not be loaded; nothing is called when it is there or was loaded, or
// when the connection ends first.
void Ensure(TPulseServer &server, std::function<void(const std::string &why)> failed);

} // namespace TxSink
