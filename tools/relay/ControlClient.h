// The command-line side of the relay's control interface: sends one request
// to a relay on 127.0.0.1 and waits briefly for its reply.
#pragma once

#include <chrono>
#include <string>

namespace Relay {

// True with the reply when the relay answered within the time-out.
bool SendControlRequest(unsigned short controlPort, const std::string& request, std::string& reply,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

} // namespace Relay
