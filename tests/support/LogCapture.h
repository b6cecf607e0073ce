// Captures everything the debug log emits while it exists, and sets debug
// flags for the test; both are restored when it goes away.
#pragma once

#include "debug_log_control.h"

#include <mutex>
#include <string>

namespace rvx::test {

class LogCapture
{
public:
    explicit LogCapture(const std::string& flags = std::string())
    {
        debug_log_load_flags_from_text(flags);
        debug_log_set_sink([this](const char* text, std::size_t length) {
            std::lock_guard<std::mutex> lock(mutex_);
            text_.append(text, length);
        });
    }
    ~LogCapture()
    {
        debug_log_set_sink({});
        debug_log_load_flags_from_text(std::string());
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::string Text() const
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }
    bool Contains(const std::string& piece) const { return Text().find(piece) != std::string::npos; }
    std::size_t Count(const std::string& piece) const
    {
        const std::string all = Text();
        std::size_t count = 0;
        for (std::size_t at = all.find(piece); at != std::string::npos; at = all.find(piece, at + piece.size()))
            ++count;
        return count;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        text_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::string text_;
};

} // namespace rvx::test
