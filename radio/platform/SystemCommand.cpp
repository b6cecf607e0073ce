// System commands through the shell, or through the runner a test installed.
#include "SystemCommand.h"

#include <cstdlib>
#include <mutex>

namespace SystemCommand {
namespace {

std::mutex& runnerMutex()
{
    static std::mutex mutex;
    return mutex;
}

Runner& currentRunner()
{
    static Runner runner;
    return runner;
}

int runWithShell(const std::string& commandLine)
{
    return std::system(commandLine.c_str());
}

} // namespace

int run(const std::string& commandLine)
{
    Runner runner;
    {
        std::lock_guard<std::mutex> lock(runnerMutex());
        runner = currentRunner();
    }
    return runner ? runner(commandLine) : runWithShell(commandLine);
}

void setRunner(Runner runner)
{
    std::lock_guard<std::mutex> lock(runnerMutex());
    currentRunner() = std::move(runner);
}

} // namespace SystemCommand
