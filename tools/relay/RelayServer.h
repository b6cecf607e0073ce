// The running relay: the trunk socket, the local control socket on
// 127.0.0.1, and the loop that serves both until it is told to stop.
#pragma once

#include "RelayOptions.h"
#include "RelayRouter.h"

#include <cstddef>
#include <ostream>
#include <string>

namespace Relay {

class RelayServer : public DatagramSink
{
public:
    explicit RelayServer(const RelayOptions& options);
    ~RelayServer() override;
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Opens and binds both sockets; false with the reason.
    bool Open(std::string& error);
    unsigned short TrunkPort() const;
    unsigned short ControlPort() const;

    // Serves until SIGINT, SIGTERM or the stop command; prints the counters
    // on SIGUSR1 and at the end.
    void Run(std::ostream& out);

    // Handles the datagrams waiting on the trunk socket (at most a batch, so
    // that control requests and signals are never starved); how many.
    std::size_t DrainTrunkSocket(Clock::time_point now);
    // Answers the requests waiting on the control socket.
    void HandleControlRequests();

    bool SendTo(const Endpoint& to, const unsigned char* data, std::size_t length) override;

    const RelayRouter& Router() const { return mRouter; }

private:
    std::string Execute(const std::string& request);

    RelayOptions mOptions;
    RelayRouter mRouter;
    int mTrunkSocket = -1;
    int mControlSocket = -1;
    bool mStopRequested = false;
};

} // namespace Relay
