// A rvx-management-sim process for tests, listening on 127.0.0.1 at a free
// port, with its own temporary GnuPG home; ended when the object goes.
#pragma once

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

class ManagementSimProcess
{
public:
    ManagementSimProcess();

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
