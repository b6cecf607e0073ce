// The relay's log: one line per event on standard error, "LEVEL: text".
// Under systemd (JOURNAL_STREAM set) each line starts with its syslog
// priority ("<3>"), so the journal files it under the right level.
#pragma once

#include <string>

namespace Relay {

enum class LogLevel { kError, kWarning, kInfo, kDebug };

// False for a name that is none of "error", "warning", "info", "debug".
bool ParseLogLevel(const std::string& name, LogLevel& level);
void SetLogLevel(LogLevel level);
bool LogEnabled(LogLevel level);
// Writes the line (without its line end) in one piece, from any thread.
void Log(LogLevel level, const std::string& text);

} // namespace Relay
