// The two stream handles of the debug log facade: debug_log_ostream carries
// the enabled state of one flag; debug_log_output_stream_t has none and is
// tested with debug_log_is_enabled by its users.
#pragma once

#include "debug_log.h"

#include <ios>
#include <mutex>
#include <sstream>
#include <string>
#include <type_traits>

namespace debug_log_detail {

// Formats one value into the stream, hands its text to the sink and empties
// it. Enumerations print as their number; a base manipulator stays in force
// until the end of the message (a piece that ends in a line end).
template <typename T>
void emitFormatted(std::stringstream& stream, const T& value)
{
    if constexpr (std::is_enum_v<T>)
        stream << static_cast<long long>(value);
    else
        stream << value;
    const std::string text = stream.str();
    if (!text.empty()) {
        debug_log_output_string(text.c_str());
        if (text.back() == '\n')
            stream.flags(std::ios_base::dec);
    }
    stream.str(std::string());
    stream.clear();
}

inline void applyManipulator(std::stringstream& stream, std::ios_base& (*manipulator)(std::ios_base&))
{
    manipulator(stream);
}

} // namespace debug_log_detail

class debug_log_ostream
{
public:
    explicit debug_log_ostream(bool enabled) : enabled_(enabled) {}

    bool enabled() const { return enabled_; }

    template <typename T>
    debug_log_ostream& operator<<(const T& value)
    {
        if (enabled_ && !debug_log_stream_output_postponed.load(std::memory_order_relaxed))
            debug_log_detail::emitFormatted(get_debug_log_stringstream(), value);
        return *this;
    }

    debug_log_ostream& operator<<(std::ios_base& (*manipulator)(std::ios_base&))
    {
        if (enabled_)
            debug_log_detail::applyManipulator(get_debug_log_stringstream(), manipulator);
        return *this;
    }

private:
    bool enabled_;
};

// A stream whose enabled state is the flag's.
debug_log_ostream& debug_log_cout(const char* flag);
// A stream that is always enabled (warnings and errors).
debug_log_ostream& get_debug_log_ostream_enabled();

class debug_log_output_stream_t
{
public:
    template <typename T>
    debug_log_output_stream_t& operator<<(const T& value)
    {
        if (!debug_log_stream_output_postponed.load(std::memory_order_relaxed)) {
            std::lock_guard<std::mutex> lock(mutex_);
            debug_log_detail::emitFormatted(stream_, value);
        }
        return *this;
    }

    debug_log_output_stream_t& operator<<(std::ios_base& (*manipulator)(std::ios_base&))
    {
        std::lock_guard<std::mutex> lock(mutex_);
        debug_log_detail::applyManipulator(stream_, manipulator);
        return *this;
    }

private:
    // The object may be shared by threads (the radio core keeps one), so
    // its private stream is guarded.
    std::mutex mutex_;
    std::stringstream stream_;
};
