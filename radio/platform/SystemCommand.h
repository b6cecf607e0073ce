// The one way the program runs a system command through the shell
// ("amixer", "reboot"). Tests replace the runner so nothing real runs.
#pragma once

#include <functional>
#include <string>

namespace SystemCommand {

// Runs the command line; returns its exit status (-1 when it could not run).
using Runner = std::function<int(const std::string& commandLine)>;

int run(const std::string& commandLine);

// Replaces the runner; an empty runner restores the system shell.
void setRunner(Runner runner);

} // namespace SystemCommand
