// Starting halvane-relay for tests and asking it through its control port.
#include "RelayProcess.h"

#include "ControlClient.h"

#include <cstdio>
#include <sstream>
#include <thread>

namespace rvx::test {

std::string RelayProgram()
{
    return RVX_RELAY_PROGRAM;
}

RelayProcess::RelayProcess(const std::vector<std::string>& extraArguments)
{
    std::vector<std::string> arguments{"--listen", "127.0.0.1", "--port", "0", "--control-port", "0"};
    arguments.insert(arguments.end(), extraArguments.begin(), extraArguments.end());
    process_ = std::make_unique<ChildProcess>(RelayProgram(), arguments);
    const auto banner = process_->WaitForLine("listening on");
    unsigned int trunk = 0, control = 0;
    if (banner && std::sscanf(banner->c_str(), "halvane-relay listening on %*[0-9.]:%u, control on 127.0.0.1:%u",
                              &trunk, &control) == 2) {
        trunkPort_ = static_cast<unsigned short>(trunk);
        controlPort_ = static_cast<unsigned short>(control);
    }
}

std::string RelayProcess::Ask(const std::string& request) const
{
    std::string reply;
    Relay::SendControlRequest(controlPort_, request, reply);
    return reply;
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
