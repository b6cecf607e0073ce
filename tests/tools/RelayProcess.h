// A halvane-relay process for tests, listening on 127.0.0.1 (or the address
// given by "--listen" among the extra arguments) with free ports that it
// reports when it starts; its control port is always on 127.0.0.1.
#pragma once

#include "ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

class RelayProcess
{
public:
    explicit RelayProcess(const std::vector<std::string>& extraArguments = {});

    bool Started() const { return trunkPort_ != 0; }
    unsigned short TrunkPort() const { return trunkPort_; }
    unsigned short ControlPort() const { return controlPort_; }
    // The reply of a control request, empty when none came.
    std::string Ask(const std::string& request) const;
    // A counter's value from the counters request; -1 when missing.
    long long Counter(const std::string& name) const;
    // A counter once it has grown past a value, or its last value when the time runs out.
    long long CounterAbove(const std::string& name, long long above, std::chrono::milliseconds timeout) const;
    ChildProcess& Process() { return *process_; }

private:
    std::unique_ptr<ChildProcess> process_;
    unsigned short trunkPort_ = 0;
    unsigned short controlPort_ = 0;
};

// Where the relay binary was built.
std::string RelayProgram();

} // namespace rvx::test
