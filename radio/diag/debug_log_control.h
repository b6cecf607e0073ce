// Control of the debug log beyond the facade: reloading flags and replacing
// the output sink. Used by tests and tools, never on a per-packet path.
#pragma once

#include <functional>
#include <string>
#include <vector>

// Replaces the flag set with the flags found in this configuration text
// (one flag per line, blank lines and '#' comments ignored).
void debug_log_load_flags_from_text(const std::string& text);

// Finds debug_log.conf again (DEBUG_LOG_CONF, beside the executable, the
// current folder) and replaces the flag set with what it holds.
void debug_log_reload_flags();

// The flags in force, sorted.
std::vector<std::string> debug_log_enabled_flags();

// Where the configuration was read from; empty when none was found.
std::string debug_log_config_path();

// Sends all output to this function instead of standard error; an empty
// function restores standard error. The sink runs without the facade's locks
// (what it logs itself goes to standard error); once this returns, no other
// thread is still inside the sink it replaced.
using debug_log_sink_t = std::function<void(const char* text, std::size_t length)>;
void debug_log_set_sink(debug_log_sink_t sink);

// Parses configuration text into flags; exposed for tests of the syntax.
std::vector<std::string> debug_log_parse_flags(const std::string& text);
