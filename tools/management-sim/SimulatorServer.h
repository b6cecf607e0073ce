// The simulated management service over HTTP: the paths the radio uses,
// and an administration endpoint answered only from this machine.
#pragma once

#include "GpgHome.h"
#include "UnitRegistry.h"

#include <httplib.h>

#include <mutex>
#include <string>

namespace ManagementSim {

struct SimulatorOptions
{
    std::string listenAddress = "127.0.0.1";
    int port = 8480;                  // 0: any free port
    std::string gnupgHome;            // empty: a temporary one
    std::string serverSecretKeyFile;  // the signing key (armoured)
    std::string serverFingerprint;
    std::string demoDocument;         // served on the demo path
};

class SimulatorServer
{
public:
    explicit SimulatorServer(const SimulatorOptions& options);

    // Loads the server key and binds the port; false with the reason.
    bool Open(std::string& error);
    int Port() const { return port_; }
    // Serves until Stop().
    void Run();
    void Stop();

private:
    void AddServicePaths();
    void AddAdministrationPaths();
    std::string SettingsReply(const std::string& keyId);
    static bool FromThisMachine(const httplib::Request& request);

    SimulatorOptions options_;
    httplib::Server http_;
    ManagementCommon::GpgHome gpg_;
    std::mutex mutex_;  // guards registry_ and the gpg home
    UnitRegistry registry_;
    int port_ = -1;
};

// The demo settings document served when no other is given.
std::string DefaultDemoDocument();

} // namespace ManagementSim
