#pragma once
#include "audio/PulseServer.h"

#include <functional>
#include <memory>
#include <string>

// The virtual output that programs play into for the relay: a null sink
// "kotarplus_tx" ("KOTARPlus TX") at 48 kHz, whose monitor the program
// records. The package's snippets for PulseAudio and PipeWire's pulse server
// make it at login; when it is missing the program loads it through the
// server, and leaves it there at exit so that other programs' settings naming
// it stay valid. A device of that name that is not the sink is a clash: it is
// reported once and nothing is loaded, so sinks never pile up under changed
// names.
class TTxSink {
public:
    static constexpr const char *Name = "kotarplus_tx";
    static constexpr uint32_t Rate = 48000;

    // Called with the loop's lock held. Fault: a clash the user must learn
    // (once); Note: a line for the trace alone.
    struct TEvents {
        std::function<void(const std::string &text)> Fault;
        std::function<void(const std::string &text)> Note;
    };
    explicit TTxSink(TEvents events);

    // With the loop's lock held: asks the server which modules it runs and
    // loads the sink when neither it nor a module making it is there; returns
    // at once. A request still under way makes a second one wait for it.
    void Ensure(TPulseServer &server);

    struct TState;

private:
    std::shared_ptr<TState> FState;
};
