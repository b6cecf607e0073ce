// `rvx-manager serve`: the radio listener, the admin listener and the
// notice sender on one data folder, until SIGINT or SIGTERM.
#pragma once

#include <string>
#include <vector>

namespace Manager {

struct ServeOptions
{
    std::string dataFolder;
    std::string radioListen = "0.0.0.0:8480";
    std::string adminListen = "127.0.0.1:8481";
    std::vector<std::string> relayControls; // the relays' control socket paths
    int workers = 4;
    int noticesPerSecond = 50;
    int maxConnections = 512;
    int maxConnectionsPerClient = 32;
};

// The exit status: 0 after a stop signal, 1 when it could not start.
int serve(const ServeOptions& options);

} // namespace Manager
