// Starting rvx-manager for tests.
#include "ManagerProcess.h"

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace rvx::test {

namespace {

int PortAfter(const std::string& line, const std::string& marker)
{
    const std::size_t at = line.find(marker);
    return at == std::string::npos ? 0 : std::atoi(line.c_str() + at + marker.size());
}

} // namespace

std::string ManagerProcess::Program()
{
    return RVX_MANAGER_PROGRAM;
}

ManagerProcess::ManagerProcess(const std::vector<std::string>& serveArguments, const std::string& dataFolder)
    : serveArguments_(serveArguments), dataFolder_(dataFolder)
{
    if (dataFolder_.empty()) {
        char pattern[] = "/tmp/mgr.XXXXXX";
        if (::mkdtemp(pattern))
            dataFolder_ = pattern;
        temporary_ = true;
    }
    Start();
}

ManagerProcess::~ManagerProcess()
{
    Stop();
    if (std::system(("gpgconf --homedir '" + dataFolder_ + "/gnupg' --kill gpg-agent 2>/dev/null").c_str()) != 0) {
    }
    if (temporary_) {
        std::error_code ignored;
        std::filesystem::remove_all(dataFolder_, ignored);
    }
}

bool ManagerProcess::Start()
{
    std::vector<std::string> arguments{"--data", dataFolder_, "serve", "--listen", "127.0.0.1:0", "--admin-listen",
                                       "127.0.0.1:0"};
    arguments.insert(arguments.end(), serveArguments_.begin(), serveArguments_.end());
    process_ = std::make_unique<ChildProcess>(Program(), arguments);
    radioPort_ = adminPort_ = 0;
    const std::string radio = "radio listening on 127.0.0.1:";
    const std::string admin = "admin listening on 127.0.0.1:";
    if (const auto line = process_->WaitForLine(radio, std::chrono::milliseconds(20000)))
        radioPort_ = PortAfter(*line, radio);
    if (const auto line = process_->WaitForLine(admin, std::chrono::milliseconds(3000)))
        adminPort_ = PortAfter(*line, admin);
    const std::string key = "server key ";
    if (const auto line = process_->WaitForLine(key, std::chrono::milliseconds(3000)))
        fingerprint_ = line->substr(line->find(key) + key.size());
    return Started();
}

void ManagerProcess::Stop()
{
    if (!process_)
        return;
    process_->Signal(SIGTERM);
    process_->Wait(std::chrono::milliseconds(10000));
    process_.reset();
    radioPort_ = adminPort_ = 0;
}

std::string ManagerProcess::BaseUrl() const
{
    return "http://127.0.0.1:" + std::to_string(radioPort_);
}

ManagerProcess::Result ManagerProcess::Run(const std::vector<std::string>& words, const std::string& input) const
{
    std::vector<std::string> arguments{"--data", dataFolder_};
    arguments.insert(arguments.end(), words.begin(), words.end());
    ChildProcess command(Program(), arguments);
    if (!input.empty())
        command.Write(input);
    command.CloseInput();
    Result result;
    result.output = command.ReadRest(std::chrono::milliseconds(20000));
    if (const std::optional<int> status = command.Wait(std::chrono::milliseconds(5000)))
        result.status = WIFEXITED(*status) ? WEXITSTATUS(*status) : -1;
    return result;
}

} // namespace rvx::test
