// The relay's metrics endpoint: a minimal HTTP/1.0 server on its own thread
// that answers "GET /metrics" with the Prometheus text, one connection at a
// time, each bounded in size and time. Meant for a scraper on the same host
// or a private network, not for the public address.
#pragma once

#include <functional>
#include <string>

namespace Relay {

class MetricsServer
{
public:
    using Render = std::function<std::string()>;
    static constexpr std::size_t kMaxRequest = 8192;

    MetricsServer(int listeningSocket, int stopEvent, Render render);
    ~MetricsServer();
    MetricsServer(const MetricsServer&) = delete;
    MetricsServer& operator=(const MetricsServer&) = delete;

    void Run();

    // A listening TCP socket on "ADDRESS:PORT" (IPv4); -1 with the reason.
    static int Listen(const std::string& addressAndPort, std::string& error);

private:
    void Serve(int connection);

    int mSocket;
    int mStopEvent;
    Render mRender;
};

// Splits "ADDRESS:PORT" (an IPv4 address); false when it is not that.
bool ParseAddressAndPort(const std::string& text, std::string& address, unsigned short& port);

} // namespace Relay
