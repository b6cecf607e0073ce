// Starting, running and stopping the service.
#include "ManagerService.h"

#include "Console.h"
#include "DataFolder.h"
#include "GpgHome.h"
#include "HttpServer.h"
#include "PushSender.h"
#include "RadioEndpoints.h"
#include "ServerKey.h"
#include "ServiceLog.h"
#include "Store.h"

#include <csignal>
#include <iostream>
#include <pthread.h>
#include <sys/resource.h>

namespace Manager {

namespace {

constexpr std::size_t kRadioBodyLimit = 64 * 1024;
constexpr std::size_t kAdminBodyLimit = 1024 * 1024;

// Connections, gpg's pipes and the database need descriptors: take what the
// system allows.
void RaiseDescriptorLimit()
{
    rlimit limit{};
    if (::getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
}

ListenerSettings Listener(const std::string& text, std::size_t bodyLimit, const ServeOptions& options)
{
    ListenerSettings settings;
    if (!parseListenAddress(text, settings.address, settings.port))
        throw FleetError("not an ADDRESS:PORT: " + text);
    settings.limits.maxBody = bodyLimit;
    settings.maxConnections = static_cast<std::size_t>(options.maxConnections);
    settings.maxConnectionsPerClient = static_cast<std::size_t>(options.maxConnectionsPerClient);
    return settings;
}

// Relays take control requests on a Unix socket, no longer on a port: a
// bare number is refused with a hint rather than taken as a file name.
std::vector<std::string> RelayControlSockets(const std::vector<std::string>& paths)
{
    for (const std::string& path : paths) {
        if (path.empty() || path.find_first_not_of("0123456789") == std::string::npos)
            throw FleetError("--relay-control takes the path of a relay's control socket (such as "
                             "/run/halvane-relay/control-3301), not a port: " + path);
    }
    return paths;
}

std::string Endpoint(const ListenerSettings& settings, int port)
{
    const bool v6 = settings.address.find(':') != std::string::npos;
    return (v6 ? "[" + settings.address + "]" : settings.address) + ":" + std::to_string(port);
}

} // namespace

int serve(const ServeOptions& options)
{
    // Stop signals are waited for on this thread; every thread started from
    // here on inherits the mask.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    RaiseDescriptorLimit();

    try {
        prepareDataFolder(options.dataFolder);
        ServeLock lock(options.dataFolder);
        if (!lock.held()) {
            std::cerr << "rvx-manager: another rvx-manager serve is already using the data folder "
                      << options.dataFolder << "\n";
            return 1;
        }
        Store store(databasePath(options.dataFolder));
        ManagementCommon::GpgHome gpg(gnupgHomePath(options.dataFolder),
                                      ManagementCommon::GpgHome::Agent::StopIfStartedHere);
        ServerKey serverKey(gpg, store, keyLockPath(options.dataFolder));
        serverKey.ensure();
        RadioEndpoints endpoints(store, serverKey, gpg);

        HttpServer server(static_cast<std::size_t>(std::max(1, options.workers)));
        const ListenerSettings radio = Listener(options.radioListen, kRadioBodyLimit, options);
        const ListenerSettings admin = Listener(options.adminListen, kAdminBodyLimit, options);
        const int radioPort = server.addListener(radio, [&endpoints](const HttpRequest& request) {
            return endpoints.handle(request);
        });
        Console console(store);
        const int adminPort =
            server.addListener(admin, [&console](const HttpRequest& request) { return console.handle(request); });
        PushSender pushes(store, RelayControlSockets(options.relayControls),
                          static_cast<std::size_t>(std::max(1, options.noticesPerSecond)),
                          [&endpoints](const std::string& code) { endpoints.prepareReply(code); });
        server.start();
        pushes.start();
        std::cout << "rvx-manager radio listening on " << Endpoint(radio, radioPort) << "\n"
                  << "rvx-manager admin listening on " << Endpoint(admin, adminPort) << "\n"
                  << "rvx-manager server key " << serverKey.fingerprint() << std::endl;
        logLine("serving " + options.dataFolder);

        int received = 0;
        sigwait(&stopSignals, &received);
        logLine("stopping");
        server.stop();
        pushes.stop();
        return 0;
    } catch (const std::exception& error) {
        std::cerr << "rvx-manager: " << error.what() << "\n";
        return 1;
    }
}

} // namespace Manager
