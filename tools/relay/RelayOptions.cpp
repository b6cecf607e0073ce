// Parsing of halvane-relay's command line and its help text.
#include "RelayOptions.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdlib>

namespace Relay {

bool ParseNumber(const std::string& text, unsigned long long limit, unsigned long long& value)
{
    if (text.empty() || text[0] == '-' || text[0] == '+')
        return false;
    errno = 0;
    char* end = nullptr;
    value = std::strtoull(text.c_str(), &end, 0);
    return errno == 0 && *end == '\0' && value <= limit;
}

namespace {

struct NumberOption
{
    const char* name;
    unsigned long long limit;
};

bool TakeValue(const std::vector<std::string>& arguments, std::size_t& at, std::string& value, std::string& error)
{
    if (at + 1 >= arguments.size()) {
        error = arguments[at] + " needs a value";
        return false;
    }
    value = arguments[++at];
    return true;
}

bool TakeNumber(const std::vector<std::string>& arguments, std::size_t& at, const NumberOption& option,
                unsigned long long& value, std::string& error)
{
    std::string text;
    if (!TakeValue(arguments, at, text, error))
        return false;
    if (!ParseNumber(text, option.limit, value)) {
        error = std::string(option.name) + ": not a number up to " + std::to_string(option.limit) + ": " + text;
        return false;
    }
    return true;
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

bool ParseOptions(const std::vector<std::string>& arguments, RelayOptions& options, std::string& error)
{
    std::vector<std::string> words;
    for (std::size_t at = 0; at < arguments.size(); ++at) {
        const std::string& argument = arguments[at];
        unsigned long long number = 0;
        if (argument == "--help" || argument == "-h") {
            options.command = Command::kHelp;
            return true;
        } else if (argument == "--listen") {
            if (!TakeValue(arguments, at, options.listenAddress, error))
                return false;
            in_addr address{};
            if (inet_pton(AF_INET, options.listenAddress.c_str(), &address) != 1) {
                error = "--listen: not an IPv4 address: " + options.listenAddress;
                return false;
            }
        } else if (argument == "--port") {
            if (!TakeNumber(arguments, at, {"--port", 65535}, number, error))
                return false;
            options.port = static_cast<unsigned short>(number);
        } else if (argument == "--control-port") {
            if (!TakeNumber(arguments, at, {"--control-port", 65535}, number, error))
                return false;
            options.controlPort = static_cast<unsigned short>(number);
            options.controlPortGiven = true;
        } else if (argument == "--subscriber-timeout") {
            if (!TakeNumber(arguments, at, {"--subscriber-timeout", 86400}, number, error))
                return false;
            options.subscriberTimeout = std::chrono::seconds(number);
        } else if (argument == "--max-subscribers") {
            if (!TakeNumber(arguments, at, {"--max-subscribers", 1000000}, number, error))
                return false;
            options.maxSubscribers = static_cast<std::size_t>(number);
        } else if (!argument.empty() && argument[0] == '-') {
            error = "unknown option: " + argument;
            return false;
        } else {
            words.push_back(argument);
        }
    }
    return ParseCommand(words, options, error);
}

std::string UsageText()
{
    return "halvane-relay: relay router for the halvane2 trunk.\n"
           "\n"
           "Usage:\n"
           "  halvane-relay [OPTIONS]                               run a relay\n"
           "  halvane-relay [--control-port N] notify DEVICE_ID     tell a unit its settings changed\n"
           "  halvane-relay [--control-port N] counters             print a running relay's counters\n"
           "  halvane-relay [--control-port N] stop                 stop a running relay\n"
           "\n"
           "A relay listens for trunk datagrams on UDP. A subscription list from a unit\n"
           "replaces that unit's groups; a join or leave adds or removes one group; a\n"
           "group message goes unchanged to every other subscriber of its group (never\n"
           "back to its sender). A subscriber not heard from for the time-out is\n"
           "forgotten. Malformed and unknown datagrams are counted and dropped. Several\n"
           "relays can run side by side: units send to all of them and drop duplicates.\n"
           "\n"
           "Options:\n"
           "  --listen ADDRESS          IPv4 address to listen on (default 0.0.0.0)\n"
           "  --port N                  trunk UDP port (default 3301; 0 picks a free port)\n"
           "  --control-port N          control port on 127.0.0.1 (default: trunk port + 1;\n"
           "                            0 picks a free port). Relays on one host need\n"
           "                            different control ports.\n"
           "  --subscriber-timeout S    forget subscribers silent for S seconds (default 60)\n"
           "  --max-subscribers N       refuse new subscribers beyond N (default 10000)\n"
           "  -h, --help                show this text\n"
           "\n"
           "The relay prints the addresses it listens on when it starts, its counters on\n"
           "SIGUSR1 and on exit (SIGINT, SIGTERM or the stop command). DEVICE_ID is the\n"
           "unit's device id, decimal or 0x hexadecimal; its low 24 bits are matched\n"
           "against the ids the units' subscriptions carry.\n";
}

} // namespace Relay
