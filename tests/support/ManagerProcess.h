// A rvx-manager process for tests: `serve` on free ports of 127.0.0.1 with
// a temporary data folder (or a given one), the command line run against
// the same folder, and everything stopped afterwards: the service by its
// pid, the data folder's gpg agent through gpgconf.
#pragma once

#include "ChildProcess.h"

#include <memory>
#include <string>
#include <vector>

namespace rvx::test {

class ManagerProcess
{
public:
    struct Result
    {
        int status = -1;  // exit status, -1 when it did not end in time
        std::string output;
    };

    // dataFolder empty: a new temporary one, removed at the end.
    explicit ManagerProcess(const std::vector<std::string>& serveArguments = {},
                            const std::string& dataFolder = std::string());
    ~ManagerProcess();
    ManagerProcess(const ManagerProcess&) = delete;
    ManagerProcess& operator=(const ManagerProcess&) = delete;

    bool Started() const { return radioPort_ != 0; }
    int RadioPort() const { return radioPort_; }
    int AdminPort() const { return adminPort_; }
    // "http://127.0.0.1:PORT" of the radio listener.
    std::string BaseUrl() const;
    const std::string& DataFolder() const { return dataFolder_; }
    // The server key's fingerprint as `serve` printed it.
    const std::string& Fingerprint() const { return fingerprint_; }

    // rvx-manager --data DIR words...; input goes to its standard input.
    Result Run(const std::vector<std::string>& words, const std::string& input = std::string()) const;
    // Stops the service (SIGTERM) and waits for it; Start() serves again.
    void Stop();
    bool Start();

    static std::string Program();

private:
    std::vector<std::string> serveArguments_;
    std::string dataFolder_;
    bool temporary_ = false;
    std::unique_ptr<ChildProcess> process_;
    int radioPort_ = 0;
    int adminPort_ = 0;
    std::string fingerprint_;
};

} // namespace rvx::test
