// Starting halvane-relay for tests and asking it through its control socket.
#include "RelayProcess.h"

#include "ControlClient.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace rvx::test {

std::string RelayProgram()
{
    return RVX_RELAY_PROGRAM;
}

bool AnswerChallenge(const UdpEndpoint& unit, unsigned short relayPort, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
        const auto datagram = unit.Receive(std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now()));
        if (datagram && datagram->size() >= 8 && (*datagram)[0] == 6) {
            Bytes answer = *datagram;
            answer[0] = 7; // the same header and cookie, as an answer
            return unit.SendTo(relayPort, answer);
        }
    }
    return false;
}

RelayProcess::RelayProcess(const std::vector<std::string>& extraArguments)
{
    char folder[] = "/tmp/relay.XXXXXX";
    if (::mkdtemp(folder) == nullptr)
        throw std::runtime_error("mkdtemp failed");
    folder_ = folder;
    controlSocket_ = folder_ + "/control";
    std::vector<std::string> arguments{"--listen", "127.0.0.1", "--port", "0", "--control-socket", controlSocket_};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    process_ = std::make_unique<ChildProcess>(RelayProgram(), arguments);
    const auto banner = process_->WaitForLine("listening on");
    unsigned int trunk = 0, metrics = 0;
    if (banner && std::sscanf(banner->c_str(), "halvane-relay listening on %*[0-9.]:%u", &trunk) == 1)
        trunkPort_ = static_cast<unsigned short>(trunk);
    const auto at = banner ? banner->find("metrics on port ") : std::string::npos;
    if (at != std::string::npos && std::sscanf(banner->c_str() + at, "metrics on port %u", &metrics) == 1)
        metricsPort_ = static_cast<unsigned short>(metrics);
}

RelayProcess::~RelayProcess()
{
    process_.reset(); // ends the relay first
    ::unlink(controlSocket_.c_str());
    ::rmdir(folder_.c_str());
}

std::string RelayProcess::Ask(const std::string& request) const
{
    std::string reply;
    return Relay::SendControlRequest(controlSocket_, request, reply) ? reply : "";
}

long long RelayProcess::Counter(const std::string& name) const
{
    std::istringstream lines(Ask("counters"));
    std::string key;
    long long value = 0;
    while (lines >> key >> value)
        if (key == name)
            return value;
    return -1;
}

long long RelayProcess::CounterAbove(const std::string& name, long long above,
                                     std::chrono::milliseconds timeout) const
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    long long value = Counter(name);
    while (value <= above && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        value = Counter(name);
    }
    return value;
}

} // namespace rvx::test
