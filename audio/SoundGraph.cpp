#include "audio/SoundGraph.h"

#include <algorithm>
#include <cctype>
#include <deque>
#include <map>
#include <sstream>

namespace {

using TDevices = TPulseServer::TDevices;
using TDevice = TPulseServer::TDevice;

// A node of the graph: a sink or a source, by name (a sink and a source may
// share a name on PipeWire).
struct TNode {
    bool Sink;
    std::string Name;
    auto operator<=>(const TNode &) const = default;
};

const TPulseServer::TModule *ModuleOf(const TDevices &devices, uint32_t index)
{
    const auto found = std::ranges::find(devices.Modules, index, &TPulseServer::TModule::Index);
    return found == devices.Modules.end() ? nullptr : &*found;
}

// The device a remap or filter device is made over: the server's property,
// else its module's argument (PipeWire's pulse server sets no property).
std::string MasterOf(const TDevices &devices, const TDevice &device, bool sink)
{
    if (!device.Master.empty())
        return device.Master;
    const TPulseServer::TModule *module = ModuleOf(devices, device.Module);
    if (!module)
        return {};
    for (const char *key : {"master", sink ? "sink_master" : "source_master"})
        if (std::string master = SoundGraph::ModuleArgument(module->Argument, key); !master.empty())
            return master;
    return {};
}

std::vector<TNode> Next(const TDevices &devices, const TNode &node)
{
    std::vector<TNode> next;
    if (node.Sink) {
        for (const TDevice &source : devices.Sources)
            if (source.MonitorOf == node.Name)
                next.push_back({false, source.Name});
        for (const TDevice &sink : devices.Sinks) {
            if (sink.Name != node.Name)
                continue;
            if (std::string master = MasterOf(devices, sink, true); !master.empty())
                next.push_back({true, master});
            const TPulseServer::TModule *module = ModuleOf(devices, sink.Module);
            if (module && module->Name == "module-combine-sink") {
                std::istringstream slaves(SoundGraph::ModuleArgument(module->Argument, "slaves"));
                for (std::string slave; std::getline(slaves, slave, ',');)
                    next.push_back({true, slave});
            }
        }
    } else {
        // A monitor's sound comes from its sink, whatever it inherited.
        for (const TDevice &source : devices.Sources)
            if (source.MonitorOf.empty() && MasterOf(devices, source, false) == node.Name)
                next.push_back({false, source.Name});
        for (const TPulseServer::TModule &module : devices.Modules) {
            if (module.Name != "module-loopback")
                continue;
            const std::string from = SoundGraph::ModuleArgument(module.Argument, "source");
            if ((from.empty() ? devices.DefaultSource : from) != node.Name)
                continue;
            const std::string to = SoundGraph::ModuleArgument(module.Argument, "sink");
            next.push_back({true, to.empty() ? devices.DefaultSink : to});
        }
    }
    return next;
}

} // namespace

std::string SoundGraph::ModuleArgument(const std::string &argument, const std::string &key)
{
    size_t at = 0;
    while (at < argument.size()) {
        while (at < argument.size() && std::isspace(static_cast<unsigned char>(argument[at])))
            ++at;
        const size_t equals = argument.find('=', at);
        if (equals == std::string::npos)
            return {};
        const std::string name = argument.substr(at, equals - at);
        std::string value;
        at = equals + 1;
        const char quote = at < argument.size() && (argument[at] == '"' || argument[at] == '\'') ? argument[at] : 0;
        at += quote ? 1 : 0;
        for (; at < argument.size(); ++at) {
            const char c = argument[at];
            if (quote ? c == quote : std::isspace(static_cast<unsigned char>(c)) != 0)
                break;
            if (c == '\\' && at + 1 < argument.size())
                ++at;
            value += argument[at];
        }
        at += quote ? 1 : 0;
        if (name == key)
            return value;
    }
    return {};
}

std::vector<std::string> SoundGraph::LoopPath(const TDevices &devices, const std::string &sink,
                                              const std::string &source)
{
    // Breadth first from the sink: the shortest way is the one reported.
    std::map<TNode, TNode> cameFrom;
    const TNode start{true, sink};
    cameFrom.emplace(start, start);
    std::deque<TNode> pending{start};
    while (!pending.empty()) {
        const TNode node = pending.front();
        pending.pop_front();
        if (!node.Sink && node.Name == source) {
            std::vector<std::string> path;
            for (TNode at = node; !(at == start); at = cameFrom.at(at))
                path.insert(path.begin(), at.Name);
            return path;
        }
        for (const TNode &next : Next(devices, node))
            if (cameFrom.emplace(next, node).second)
                pending.push_back(next);
    }
    return {};
}
