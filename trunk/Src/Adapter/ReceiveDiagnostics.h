// The virtual interface's always-printed lines about what it drops or
// refuses, one throttle per kind: anyone who can reach the trunk port can
// send such datagrams by the hundred thousand, and a line for each would
// fill the disk. The first of a quiet spell is printed in full, the rest as
// one count per interval.
#pragma once

#include "debug_log_throttle.h"

namespace Halvane::Adapter {

struct CReceiveDiagnostics
{
    debug_log_throttle_t foreign{"Dropped", "trunk datagrams from addresses that are no configured router"};
    debug_log_throttle_t malformed{"Dropped", "malformed trunk datagrams"};
    debug_log_throttle_t unexpectedType{"Discarded", "trunk packets of a type a unit does not take"};
    debug_log_throttle_t localGroup{"Discarded", "trunk group messages for local talk groups"};
    debug_log_throttle_t webManagement{"Received", "web-management messages"};
    debug_log_throttle_t queueFull{"Dropped", "group messages for sockets with full queues"};
    debug_log_throttle_t oversized{"Refused", "datagrams too long for a trunk packet"};
    debug_log_throttle_t unansweredChallenge{"Left unanswered", "router challenges (too many or too long)"};

    // Prints the summaries whose interval is over.
    void Flush(debug_log_throttle_t::clock::time_point now)
    {
        for (debug_log_throttle_t* kind : {&foreign, &malformed, &unexpectedType, &localGroup, &webManagement, &queueFull,
                                           &oversized, &unansweredChallenge})
            kind->flush(now);
    }
};

} // namespace Halvane::Adapter
