// halvane-relay: a relay router for the halvane2 trunk, and the client of a
// running relay's control interface.
#include "ControlClient.h"
#include "RelayOptions.h"
#include "RelayServer.h"

#include <iostream>
#include <string>

namespace {

int RunRelay(const Relay::RelayOptions& options)
{
    Relay::RelayServer server(options);
    std::string error;
    if (!server.Open(error)) {
        std::cerr << "halvane-relay: " << error << "\n";
        return 1;
    }
    std::cout << "halvane-relay listening on " << options.listenAddress << ":" << server.TrunkPort()
              << ", control on 127.0.0.1:" << server.ControlPort() << std::endl;
    server.Run(std::cout);
    return 0;
}

int AskRelay(const Relay::RelayOptions& options)
{
    std::string request = options.command == Relay::Command::kNotify     ? "notify " + std::to_string(options.deviceId)
                          : options.command == Relay::Command::kCounters ? "counters"
                                                                         : "stop";
    std::string reply;
    if (!Relay::SendControlRequest(options.EffectiveControlPort(), request, reply)) {
        std::cerr << "halvane-relay: no relay answered on 127.0.0.1:" << options.EffectiveControlPort() << "\n";
        return 1;
    }
    std::cout << reply;
    return reply.rfind("error", 0) == 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::string(argv[1]) == "--version") {
        std::cout << "halvane-relay " << HALVANE_RELAY_VERSION << "\n";
        return 0;
    }
    Relay::RelayOptions options;
    std::string error;
    if (!Relay::ParseOptions({argv + 1, argv + argc}, options, error)) {
        std::cerr << "halvane-relay: " << error << "\nTry 'halvane-relay --help'.\n";
        return 2;
    }
    switch (options.command) {
    case Relay::Command::kHelp:
        std::cout << Relay::UsageText();
        return 0;
    case Relay::Command::kRun:
        return RunRelay(options);
    default:
        return AskRelay(options);
    }
}
