// Command line and config file of halvane-relay: run a relay, or talk to a
// running one through its control socket. Every option of a running relay
// can also be set in the config file ("key = value", the option's name
// without the dashes); options on the command line win.
#pragma once

#include "RelayLog.h"
#include "RelayRouter.h"

#include <cstddef>
#include <string>
#include <vector>

namespace Relay {

enum class Command { kRun, kHelp, kVersion, kNotify, kCounters, kStop };

struct RelayOptions
{
    Command command = Command::kRun;
    std::string configFile;
    std::string listenAddress = "0.0.0.0";
    unsigned short port = 3301;
    std::string controlSocket; // empty: the default path; "off": no control interface
    std::string controlGroup;  // empty: the relay's own user only
    std::size_t workers = 0;   // 0: one per processor
    std::string metrics;       // "ADDRESS:PORT", empty: off
    LogLevel logLevel = LogLevel::kInfo;
    RouterSettings router;
    unsigned int deviceId = 0; // for notify

    // The control socket's path; empty when the control interface is off.
    std::string ControlPath() const;
    std::size_t EffectiveWorkers() const;
};

constexpr std::size_t kMaxWorkers = 64;

// Fills options from the arguments (and the config file they name); false
// with the reason on a bad one.
bool ParseOptions(const std::vector<std::string>& arguments, RelayOptions& options, std::string& error);
// Applies a config file's settings; errors name the file and line.
bool LoadConfigFile(const std::string& path, RelayOptions& options, std::string& error);

// A whole decimal (or 0x hexadecimal) number no larger than limit.
bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long& value);

// The text of --help.
std::string UsageText();

} // namespace Relay
