#pragma once
#include "audio/PulseServer.h"

#include <string>
#include <vector>

// Where sound played into a sink goes, as far as the server's devices and
// modules tell: into the sink's monitor; from a remap or filter device's
// master into the device (a source) or from the device into its master (a
// sink); through a loopback from its source to its sink; from a combined sink
// into its slaves.
namespace SoundGraph {

// The value of `key` in a module's argument ("key=value", values quoted with
// ' or " as the server reads them); empty when it is not there.
std::string ModuleArgument(const std::string &argument, const std::string &key);

// The devices by which sound played into `sink` reaches the source `source`,
// from the sink's monitor to that source; empty when it never does.
std::vector<std::string> LoopPath(const TPulseServer::TDevices &devices, const std::string &sink,
                                  const std::string &source);

} // namespace SoundGraph
