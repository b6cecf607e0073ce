// Relative and absolute time texts of the console.
#include "TimeText.h"

#include <ctime>

namespace Manager {

namespace {

std::string formatUtc(std::int64_t secondsSince1970, const char* format)
{
    if (secondsSince1970 == 0)
        return {};
    const std::time_t time = static_cast<std::time_t>(secondsSince1970);
    std::tm parts{};
    if (!gmtime_r(&time, &parts))
        return {};
    char text[40];
    const std::size_t length = std::strftime(text, sizeof text, format, &parts);
    return std::string(text, length);
}

std::string countAgo(std::int64_t count, const char* unit)
{
    return std::to_string(count) + " " + unit + " ago";
}

} // namespace

std::string timeAgoText(std::int64_t then, std::int64_t now)
{
    if (then == 0)
        return "never";
    const std::int64_t seconds = now - then;
    if (seconds < 0)
        return "in the future";
    if (seconds < 60)
        return "just now";
    if (seconds < 3600)
        return countAgo(seconds / 60, "min");
    if (seconds < 2 * 86400)
        return countAgo(seconds / 3600, "h");
    return countAgo(seconds / 86400, "days");
}

std::string utcTimeText(std::int64_t secondsSince1970)
{
    return formatUtc(secondsSince1970, "%Y-%m-%d %H:%M UTC");
}

std::string isoTimeText(std::int64_t secondsSince1970)
{
    return formatUtc(secondsSince1970, "%Y-%m-%dT%H:%M:%SZ");
}

} // namespace Manager
