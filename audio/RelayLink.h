#pragma once
#include "audio/Relay.h"
#include "core/KeyingCore.h"

#include <memory>

// What the keying core is given of a relay: its gate, when its sound has
// played, and whether it can deliver.
inline TKeyingCore::TRelayLink RelayLink(const std::shared_ptr<TRelay> &relay)
{
    return {[relay] { return relay->Open(); }, [relay] { return relay->Shut(); }, [relay] { return relay->LoudPlayedOut(); },
            [relay] { return relay->Ready(); }, [relay] { relay->Released(); }};
}
