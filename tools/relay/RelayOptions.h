// Command line of halvane-relay: run a relay, or talk to a running one
// through its local control interface.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace Relay {

enum class Command { kRun, kHelp, kNotify, kCounters, kStop };

struct RelayOptions
{
    Command command = Command::kRun;
    std::string listenAddress = "0.0.0.0";
    unsigned short port = 3301;
    bool controlPortGiven = false;
    unsigned short controlPort = 0; // the trunk port + 1 unless given
    std::chrono::seconds subscriberTimeout{60};
    std::size_t maxSubscribers = 10000;
    unsigned int deviceId = 0; // for notify

    unsigned short EffectiveControlPort() const
    {
        return controlPortGiven ? controlPort : static_cast<unsigned short>(port == 0 ? 0 : port + 1);
    }
};

// Fills options from the arguments; false with the reason on a bad one.
bool ParseOptions(const std::vector<std::string>& arguments, RelayOptions& options, std::string& error);

// A whole decimal (or 0x hexadecimal) number no larger than limit.
bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long& value);

// The text of --help.
std::string UsageText();

} // namespace Relay
