// The guard around start-up: an exception that escapes any step ends the
// program with its message instead of leaving a half-started radio.
#pragma once

#include <functional>

// Exit status of the program when start-up fails.
constexpr int kStartupFailedExitStatus = 1;

// Runs the steps; on an exception prints "Exiting because exception caught
// in function main(): " with its text and tells the event loop to quit.
// Returns false when the steps failed.
bool runGuardedStartup(const std::function<void()>& steps);
