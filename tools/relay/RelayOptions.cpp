// Parsing of halvane-relay's command line and config file, from one table
// of options, and the help text.
#include "RelayOptions.h"

#include "ControlSocket.h"
#include "MetricsServer.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <set>
#include <thread>

namespace Relay {

bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+' || text[0] == ' ')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value <= limit;
}

std::string RelayOptions::ControlPath() const
{
    if (controlSocket == "off")
        return "";
    return controlSocket.empty() ? DefaultControlPath(port) : controlSocket;
}

std::size_t RelayOptions::EffectiveWorkers() const
{
    if (workers > 0)
        return workers;
    return std::clamp<std::size_t>(std::thread::hardware_concurrency(), 1, kMaxWorkers);
}

namespace {

using Apply = bool (*)(const std::string& value, RelayOptions& options, std::string& error);

struct Option
{
    const char* name; // "--name" on the command line, "name" or "name" with '_' in the file
    const char* value;
    const char* help;
    Apply apply;
};

bool Fail(std::string& error, const std::string& why)
{
    error = why;
    return false;
}

bool Number(const std::string& value, unsigned long long low, unsigned long long high, unsigned long long& number,
            std::string& error)
{
    if (ParseNumber(value, high, number) && number >= low)
        return true;
    error = "not a number from " + std::to_string(low) + " to " + std::to_string(high) + ": " + value;
    return false;
}

template <typename Field>
bool SetNumber(const std::string& value, unsigned long long low, unsigned long long high, Field& field,
               std::string& error)
{
    unsigned long long number = 0;
    if (!Number(value, low, high, number, error))
        return false;
    field = static_cast<Field>(number);
    return true;
}

bool SetSeconds(const std::string& value, unsigned long long low, unsigned long long high, Clock::duration& field,
                std::string& error)
{
    unsigned long long seconds = 0;
    if (!Number(value, low, high, seconds, error))
        return false;
    field = std::chrono::seconds(seconds);
    return true;
}

const Option kOptions[] = {
    {"listen", "ADDRESS", "IPv4 address to listen on (default 0.0.0.0)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         in_addr address{};
         if (inet_pton(AF_INET, v.c_str(), &address) != 1)
             return Fail(e, "not an IPv4 address: " + v);
         o.listenAddress = v;
         return true;
     }},
    {"port", "N", "trunk UDP port (default 3301; 0 picks a free port)",
     [](const std::string& v, RelayOptions& o, std::string& e) { return SetNumber(v, 0, 65535, o.port, e); }},
    {"workers", "N", "forwarding threads (default 0: one per processor; at most 64)",
     [](const std::string& v, RelayOptions& o, std::string& e) { return SetNumber(v, 0, kMaxWorkers, o.workers, e); }},
    {"control-socket", "PATH", "the control socket, or off (default /run/halvane-relay/control-PORT as\n"
                               "root, else under $XDG_RUNTIME_DIR)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         if (v.empty())
             return Fail(e, "needs a path or off");
         o.controlSocket = v;
         return true;
     }},
    {"control-group", "GROUP", "also let this group use the control socket (mode 0660)",
     [](const std::string& v, RelayOptions& o, std::string&) {
         o.controlGroup = v;
         return true;
     }},
    {"metrics", "ADDRESS:PORT", "serve Prometheus metrics over HTTP at /metrics (default off)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         std::string address;
         unsigned short port = 0;
         if (v == "off") {
             o.metrics.clear();
             return true;
         }
         if (!ParseAddressAndPort(v, address, port))
             return Fail(e, "not an IPv4 ADDRESS:PORT or off: " + v);
         o.metrics = v;
         return true;
     }},
    {"log-level", "LEVEL", "error, warning, info (default) or debug",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return ParseLogLevel(v, o.logLevel) || Fail(e, "not error, warning, info or debug: " + v);
     }},
    {"subscriber-timeout", "S", "forget subscribers silent for S seconds (default 60)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetSeconds(v, 1, 86400, o.router.subscriberTimeout, e);
     }},
    {"max-subscribers", "N", "endpoints in the table at most (default 10000)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 1, 1000000, o.router.maxSubscribers, e);
     }},
    {"unproven-policy", "POLICY", "what endpoints get that did not answer a challenge: open, capped\n"
                                  "(default) or strict",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         if (v == "open")
             o.router.unprovenPolicy = UnprovenPolicy::kOpen;
         else if (v == "capped")
             o.router.unprovenPolicy = UnprovenPolicy::kCapped;
         else if (v == "strict")
             o.router.unprovenPolicy = UnprovenPolicy::kStrict;
         else
             return Fail(e, "not open, capped or strict: " + v);
         return true;
     }},
    {"unproven-rate", "BYTES", "bytes a second for the unproven endpoints of one address under\n"
                               "the capped policy (default 4000)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 0, 1000000000, o.router.unprovenBytesPerSecond, e);
     }},
    {"proof-lifetime", "S", "an answer proves its endpoint for S seconds (default 600)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetSeconds(v, 60, 86400, o.router.proofLifetime, e);
     }},
    {"max-endpoints-per-address", "N", "subscribed endpoints per source address (default 256)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 1, 1000000, o.router.maxEndpointsPerAddress, e);
     }},
    {"max-subscriptions-per-address", "N", "group subscriptions per source address (default 4096)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 1, 100000000, o.router.maxSubscriptionsPerAddress, e);
     }},
    {"max-groups-per-endpoint", "N", "groups one endpoint may subscribe to (default 64)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 1, 100000, o.router.maxGroupsPerEndpoint, e);
     }},
    {"max-datagrams-per-second", "N", "datagrams a second from one sending endpoint (default 250;\n"
                                      "0: no limit)",
     [](const std::string& v, RelayOptions& o, std::string& e) {
         return SetNumber(v, 0, 100000000, o.router.maxDatagramsPerSecond, e);
     }},
};

const Option* FindOption(std::string name)
{
    std::replace(name.begin(), name.end(), '_', '-');
    for (const Option& option : kOptions)
        if (name == option.name)
            return &option;
    return nullptr;
}

std::string Trim(const std::string& text)
{
    const auto first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return "";
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

bool ParseCommand(const std::vector<std::string>& words, RelayOptions& options, std::string& error)
{
    if (words.empty())
        return true;
    const std::string& verb = words[0];
    const std::size_t expected = verb == "notify" ? 2 : 1;
    if (verb != "notify" && verb != "counters" && verb != "stop") {
        error = "unknown command: " + verb;
        return false;
    }
    if (words.size() != expected) {
        error = verb == "notify" ? "notify needs one device id" : verb + " takes no argument";
        return false;
    }
    options.command = verb == "notify" ? Command::kNotify : verb == "counters" ? Command::kCounters : Command::kStop;
    unsigned long long id = 0;
    if (options.command == Command::kNotify && !ParseNumber(words[1], 0xFFFFFFFFull, id)) {
        error = "not a device id: " + words[1];
        return false;
    }
    options.deviceId = static_cast<unsigned int>(id);
    return true;
}

} // namespace

bool LoadConfigFile(const std::string& path, RelayOptions& options, std::string& error)
{
    std::ifstream file(path);
    if (!file) {
        error = "cannot read the config file " + path;
        return false;
    }
    std::set<std::string> seen;
    std::string line;
    for (int number = 1; std::getline(file, line); ++number) {
        const std::string where = path + ":" + std::to_string(number) + ": ";
        const std::string text = Trim(line);
        if (text.empty() || text[0] == '#')
            continue;
        const auto equals = text.find('=');
        const std::string key = Trim(text.substr(0, equals));
        const Option* option = equals == std::string::npos ? nullptr : FindOption(key);
        if (equals == std::string::npos || key.empty()) {
            error = where + "expected KEY = VALUE: " + text;
            return false;
        }
        if (option == nullptr) {
            error = where + "unknown key '" + key + "'";
            return false;
        }
        if (!seen.insert(option->name).second) {
            error = where + "'" + key + "' is set twice";
            return false;
        }
        std::string reason;
        if (!option->apply(Trim(text.substr(equals + 1)), options, reason)) {
            error = where + key + ": " + reason;
            return false;
        }
    }
    return true;
}

bool ParseOptions(const std::vector<std::string>& arguments, RelayOptions& options, std::string& error)
{
    // The config file first, whatever its place, so that the command line wins.
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        if (arguments[at] == "--help" || arguments[at] == "-h") {
            options.command = Command::kHelp;
            return true;
        }
        if (arguments[at] == "--version") {
            options.command = Command::kVersion;
            return true;
        }
        if (arguments[at] == "--config") {
            if (at + 1 >= arguments.size()) {
                error = "--config needs a value";
                return false;
            }
            options.configFile = arguments[++at];
            if (!LoadConfigFile(options.configFile, options, error))
                return false;
        }
    }
    std::vector<std::string> words;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        if (argument == "--config") {
            ++at;
            continue;
        }
        if (argument.rfind("--", 0) != 0) {
            if (!argument.empty() && argument[0] == '-') {
                error = "unknown option: " + argument;
                return false;
            }
            words.push_back(argument);
            continue;
        }
        const Option* option = FindOption(argument.substr(2));
        if (option == nullptr || argument.find('_') != std::string::npos) {
            error = "unknown option: " + argument;
            return false;
        }
        if (at + 1 >= arguments.size()) {
            error = argument + " needs a value";
            return false;
        }
        std::string reason;
        if (!option->apply(arguments[++at], options, reason)) {
            error = argument + ": " + reason;
            return false;
        }
    }
    return ParseCommand(words, options, error);
}

std::string UsageText()
{
    std::string text =
        "halvane-relay: relay router for the halvane2 trunk.\n"
        "\n"
        "Usage:\n"
        "  halvane-relay [OPTIONS]                  run a relay\n"
        "  halvane-relay [OPTIONS] notify DEVICE_ID tell a unit its settings changed\n"
        "  halvane-relay [OPTIONS] counters         print a running relay's counters\n"
        "  halvane-relay [OPTIONS] stop             stop a running relay\n"
        "  halvane-relay --version | --help\n"
        "\n"
        "A relay listens for trunk datagrams on UDP. A subscription list from a unit\n"
        "replaces that unit's groups; a join or leave adds or removes one group; a\n"
        "group message goes unchanged to every other subscriber of its group (never\n"
        "back to its sender, never twice within a few seconds). A subscriber not\n"
        "heard from (by a subscription) for the time-out is forgotten. A new\n"
        "subscriber is challenged to prove its address; units with a current trunk\n"
        "library answer at once and get everything, others get what the unproven\n"
        "policy allows. Malformed and unknown datagrams are counted and dropped.\n"
        "\n"
        "Options (in a config file: \"name = value\", one a line, # comments):\n"
        "  --config FILE             read options from FILE; the command line wins\n";
    for (const Option& option : kOptions) {
        std::string head = std::string("  --") + option.name + " " + option.value;
        head.resize(std::max<std::size_t>(head.size() + 1, 28), ' ');
        std::string help = option.help;
        for (std::size_t at = help.find('\n'); at != std::string::npos; at = help.find('\n', at + 1))
            help.insert(at + 1, 28, ' ');
        text += head + help + "\n";
    }
    text +=
        "  -h, --help                show this text\n"
        "  --version                 show the version\n"
        "\n"
        "The commands reach the relay through its control socket (--control-socket,\n"
        "or the one the config file names). The relay logs to standard error, prints\n"
        "its counters on SIGUSR1 and when it stops (SIGINT, SIGTERM or the stop\n"
        "command). DEVICE_ID is decimal or 0x hexadecimal; its low 24 bits are matched\n"
        "against the ids the units' subscriptions carry.\n";
    return text;
}

} // namespace Relay
