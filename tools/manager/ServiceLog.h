// rvx-manager's log: one line per event on standard error, with the time.
// Repeated failures of one kind (a full disk under every request, say)
// print their first line and then at most one line per interval with the
// count of the others.
#pragma once

#include <chrono>
#include <map>
#include <mutex>
#include <string>

namespace Manager {

void logLine(const std::string& text);

class ThrottledLog
{
public:
    explicit ThrottledLog(std::chrono::seconds interval = std::chrono::seconds(10)) : interval_(interval) {}
    void log(const std::string& kind, const std::string& text);

private:
    struct Kind
    {
        std::chrono::steady_clock::time_point lastPrinted;
        unsigned suppressed = 0;
    };
    std::chrono::seconds interval_;
    std::mutex mutex_;
    std::map<std::string, Kind> kinds_;
};

} // namespace Manager
