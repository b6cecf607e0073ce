// The relay's control thread: takes one connection at a time on the
// control socket, reads one request line (bounded in size and time), and
// writes the reply of the handler before closing.
#pragma once

#include <functional>
#include <string>
#include <thread>

namespace Relay {

class ControlServer
{
public:
    using Handler = std::function<std::string(const std::string& request)>;
    static constexpr std::size_t kMaxRequest = 256;

    // Takes over the listening socket; stopEvent becomes readable on stop.
    ControlServer(int listeningSocket, int stopEvent, Handler handler);
    ~ControlServer();
    ControlServer(const ControlServer&) = delete;
    ControlServer& operator=(const ControlServer&) = delete;

    // Serves until the stop descriptor becomes readable.
    void Run();

private:
    void Serve(int connection);
    bool ReadRequest(int connection, std::string& request);

    int mSocket;
    int mStopEvent;
    Handler mHandler;
};

} // namespace Relay
