// The loop of a relay thread that serves one local stream connection at a
// time until its stop event is signalled.
#pragma once

#include <functional>

namespace Relay {

// Accepts connections on the listening socket and hands each to serve, then
// closes it; returns once stopEvent (an eventfd) becomes readable.
void ServeConnectionsUntilStopped(int listeningSocket, int stopEvent, const std::function<void(int)>& serve);

} // namespace Relay
