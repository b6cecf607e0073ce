// Debug flags and diagnostic output, shared by the radio program and the
// trunk library. Flags come from debug_log.conf; all text goes to one sink.
#pragma once

#include <atomic>
#include <sstream>

// Records the program's path, used to find debug_log.conf beside the
// executable. Call once at start-up, before any flag is tested.
void debug_log_set_argv0(const char* argv0);

// True only when the named flag is set. Cheap: called for every packet.
bool debug_log_is_enabled(const char* flag);

// printf-style message, emitted only when the flag is set.
void debug_log_printf(const char* flag, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// printf-style message, always emitted.
void debug_log_printf_always(const char* format, ...)
    __attribute__((format(printf, 1, 2)));

// Emits the text unchanged; adds no line end.
void debug_log_output_string(const char* text);

// The text stream that stream insertions format values in. Each thread has
// its own, so insertions from several threads never share one buffer.
std::stringstream& get_debug_log_stringstream();

// While set, stream insertions emit nothing.
extern std::atomic<bool> debug_log_stream_output_postponed;
