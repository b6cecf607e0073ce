// halvane-relay: a relay router for the halvane2 trunk, and the client of a
// running relay's control socket.
#include "ControlClient.h"
#include "RelayLog.h"
#include "RelayOptions.h"
#include "RelayServer.h"

#include <iostream>
#include <string>

namespace {

const char* PolicyName(Relay::UnprovenPolicy policy)
{
    switch (policy) {
    case Relay::UnprovenPolicy::kOpen:
        return "open";
    case Relay::UnprovenPolicy::kCapped:
        return "capped";
    default:
        return "strict";
    }
}

int RunRelay(const Relay::RelayOptions& options)
{
    Relay::SetLogLevel(options.logLevel);
    // Before any thread exists, so that only the main thread takes them.
    Relay::RelayServer::BlockStopSignals();
    Relay::RelayServer server(options);
    std::string error;
    if (!server.Open(error) || !server.Start(error)) {
        Relay::Log(Relay::LogLevel::kError, error);
        return 1;
    }
    const std::string control = server.ControlPath().empty() ? "off" : server.ControlPath();
    Relay::Log(Relay::LogLevel::kInfo,
               "listening on " + options.listenAddress + ":" + std::to_string(server.TrunkPort()) + " with " +
                   std::to_string(server.Workers()) + " forwarding threads, unproven policy " +
                   PolicyName(options.router.unprovenPolicy) + ", control socket " + control +
                   (server.MetricsPort() ? ", metrics on port " + std::to_string(server.MetricsPort()) : ""));
    // The banner on standard output is what scripts and tests wait for.
    std::cout << "halvane-relay listening on " << options.listenAddress << ":" << server.TrunkPort() << ", control on "
              << control;
    if (server.MetricsPort() != 0)
        std::cout << ", metrics on port " << server.MetricsPort();
    std::cout << std::endl;
    server.Run(std::cout);
    return 0;
}

int AskRelay(const Relay::RelayOptions& options)
{
    const std::string request = options.command == Relay::Command::kNotify
                                    ? "notify " + std::to_string(options.deviceId)
                                : options.command == Relay::Command::kCounters ? "counters"
                                                                               : "stop";
    const std::string path = options.ControlPath();
    std::string reply;
    if (path.empty()) {
        std::cerr << "halvane-relay: the control socket is off\n";
        return 1;
    }
    if (!Relay::SendControlRequest(path, request, reply)) {
        std::cerr << "halvane-relay: " << reply << "\n";
        return 1;
    }
    std::cout << reply;
    return reply.rfind("error", 0) == 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
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
    case Relay::Command::kVersion:
        std::cout << "halvane-relay " << Relay::RelayVersion() << "\n";
        return 0;
    case Relay::Command::kRun:
        return RunRelay(options);
    default:
        return AskRelay(options);
    }
}
