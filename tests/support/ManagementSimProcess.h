// A rvx-management-sim process for tests, listening at a free port on
// 127.0.0.1 (or another address of the test's own network namespace), with
// its own temporary GnuPG home; ended when the object goes.
#pragma once

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

class ManagementSimProcess
{
public:
    // listenAddress: 127.0.0.1, or 0.0.0.0 for programs in other network
    // namespaces joined to the test's; the administration client always
    // comes through 127.0.0.1. options: further command-line options, such
    // as another server key ("--server-key", FILE, "--server-fingerprint", FPR).
    explicit ManagementSimProcess(const std::string& listenAddress = "127.0.0.1",
                                  const std::vector<std::string>& options = {});

    bool Started() const { return port_ != 0; }
    int Port() const { return port_; }
    // "http://127.0.0.1:PORT"
    std::string BaseUrl() const;
    // Runs the simulator's administration client with the words; its output.
    std::string Admin(const std::vector<std::string>& words) const;

private:
    std::unique_ptr<ChildProcess> process_;
    int port_ = 0;
};

} // namespace rvx::test
