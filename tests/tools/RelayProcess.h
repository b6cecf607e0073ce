// A halvane-relay process for tests, listening on 127.0.0.1 (or the address
// given by "--listen" among the extra arguments) on a free port that it
// reports when it starts, with its control socket in a temporary folder of
// its own.
#pragma once

#include "ChildProcess.h"
#include "UdpEndpoint.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

class RelayProcess
{
public:
    explicit RelayProcess(const std::vector<std::string>& extraArguments = {});
    ~RelayProcess();
    RelayProcess(const RelayProcess&) = delete;
    RelayProcess& operator=(const RelayProcess&) = delete;

    bool Started() const { return trunkPort_ != 0; }
    unsigned short TrunkPort() const { return trunkPort_; }
    // The control socket's path.
    const std::string& ControlSocket() const { return controlSocket_; }
    // The metrics port when "--metrics" was among the arguments, else 0.
    unsigned short MetricsPort() const { return metricsPort_; }
    // The reply of a control request, empty when none came.
    std::string Ask(const std::string& request) const;
    // A counter's value from the counters request; -1 when missing.
    long long Counter(const std::string& name) const;
    // A counter once it has grown past a value, or its last value when the time runs out.
    long long CounterAbove(const std::string& name, long long above, std::chrono::milliseconds timeout) const;
    ChildProcess& Process() { return *process_; }

private:
    std::string folder_;
    std::string controlSocket_;
    std::unique_ptr<ChildProcess> process_;
    unsigned short trunkPort_ = 0;
    unsigned short metricsPort_ = 0;
};

// Where the relay binary was built.
std::string RelayProgram();

// What a unit with the current trunk library does when a relay challenges
// it: waits for the challenge (other datagrams before it are dropped) and
// echoes its cookie to the relay. False when no challenge came.
bool AnswerChallenge(const UdpEndpoint& unit, unsigned short relayPort,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(1000));

} // namespace rvx::test
