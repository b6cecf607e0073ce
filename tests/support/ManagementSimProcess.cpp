// Starting the management-service simulator for tests.
#include "ManagementSimProcess.h"

#include <cstdlib>

namespace rvx::test {

namespace {

std::vector<std::string> serveArguments(const std::string& listenAddress, const std::vector<std::string>& options)
{
    std::vector<std::string> arguments{"--listen", listenAddress, "--port", "0"};
    arguments.insert(arguments.end(), options.begin(), options.end());
    return arguments;
}

} // namespace

ManagementSimProcess::ManagementSimProcess(const std::string& listenAddress, const std::vector<std::string>& options)
    : process_(std::make_unique<ChildProcess>(RVX_MANAGEMENT_SIM_PROGRAM, serveArguments(listenAddress, options)))
{
    const std::string marker = "listening on " + listenAddress + ":";
    const std::optional<std::string> line = process_->WaitForLine(marker, std::chrono::milliseconds(10000));
    if (line)
        port_ = std::atoi(line->c_str() + line->find(marker) + marker.size());
}

std::string ManagementSimProcess::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::string ManagementSimProcess::Admin(const std::vector<std::string>& words) const
{
    std::vector<std::string> arguments{"--port", std::to_string(port_)};
    arguments.insert(arguments.end(), words.begin(), words.end());
    ChildProcess client(RVX_MANAGEMENT_SIM_PROGRAM, arguments);
    std::string output = client.ReadRest(std::chrono::milliseconds(10000));
    client.Wait(std::chrono::milliseconds(3000));
    return output;
}

} // namespace rvx::test
