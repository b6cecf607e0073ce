// The client side of the relay's control interface: one request over the
// relay's Unix control socket, and its reply.
#pragma once

#include <chrono>
#include <string>

namespace Relay {

// True with the reply when the relay answered within the time-out; false
// with the reason in reply when nothing answered there.
bool SendControlRequest(const std::string& socketPath, const std::string& request, std::string& reply,
                        std::chrono::milliseconds timeout = std::chrono::milliseconds(2000));

} // namespace Relay
