// Writing rvx-manager's log lines.
#include "ServiceLog.h"

#include <cstdio>
#include <ctime>

namespace Manager {

void logLine(const std::string& text)
{
    static std::mutex mutex;
    const std::time_t now = std::time(nullptr);
    std::tm utc{};
    ::gmtime_r(&now, &utc);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard<std::mutex> lock(mutex);
    std::fprintf(stderr, "%s rvx-manager: %s\n", stamp, text.c_str());
    std::fflush(stderr);
}

void ThrottledLog::log(const std::string& kind, const std::string& text)
{
    const auto now = std::chrono::steady_clock::now();
    std::string line;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        const bool seen = kinds_.count(kind) != 0;
        Kind& entry = kinds_[kind];
        if (seen && now - entry.lastPrinted < interval_) {
            ++entry.suppressed;
            return;
        }
        line = text;
        if (entry.suppressed > 0)
            line += " (" + std::to_string(entry.suppressed) + " more like it since the last line)";
        entry.suppressed = 0;
        entry.lastPrinted = now;
    }
    logLine(line);
}

} // namespace Manager
