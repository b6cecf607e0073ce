// Levelled lines on standard error.
#include "RelayLog.h"

#include <atomic>
#include <cstdlib>
#include <unistd.h>

namespace Relay {

namespace {

std::atomic<LogLevel> g_level{LogLevel::kInfo};

const char* NameOf(LogLevel level)
{
    switch (level) {
    case LogLevel::kError:
        return "error";
    case LogLevel::kWarning:
        return "warning";
    case LogLevel::kInfo:
        return "info";
    default:
        return "debug";
    }
}

const char* PriorityOf(LogLevel level)
{
    switch (level) {
    case LogLevel::kError:
        return "<3>";
    case LogLevel::kWarning:
        return "<4>";
    case LogLevel::kInfo:
        return "<6>";
    default:
        return "<7>";
    }
}

} // namespace

bool ParseLogLevel(const std::string& name, LogLevel& level)
{
    for (LogLevel candidate : {LogLevel::kError, LogLevel::kWarning, LogLevel::kInfo, LogLevel::kDebug})
        if (name == NameOf(candidate)) {
            level = candidate;
            return true;
        }
    return false;
}

void SetLogLevel(LogLevel level)
{
    g_level = level;
}

bool LogEnabled(LogLevel level)
{
    return level <= g_level.load();
}

void Log(LogLevel level, const std::string& text)
{
    if (!LogEnabled(level))
        return;
    static const bool journal = std::getenv("JOURNAL_STREAM") != nullptr;
    std::string line = journal ? PriorityOf(level) : "";
    line += NameOf(level);
    line += ": ";
    // One event, one line, whatever the text holds.
    for (char c : text)
        line += (c == '\n' || c == '\r') ? ' ' : c;
    line += '\n';
    // A single write keeps lines of several threads apart.
    const ssize_t written = ::write(STDERR_FILENO, line.data(), line.size());
    (void)written;
}

} // namespace Relay
