// Times as the console shows them: how long ago, and the date and time in
// UTC (the service and its operators may be in different time zones).
#pragma once

#include <cstdint>
#include <string>

namespace Manager {

// "just now", "5 min ago", "3 h ago", "2 days ago"; "never" for 0.
std::string timeAgoText(std::int64_t then, std::int64_t now);
// "2026-12-07 23:31 UTC"; "" for 0.
std::string utcTimeText(std::int64_t secondsSince1970);
// "2026-12-07T23:31:34Z", for the datetime attribute; "" for 0.
std::string isoTimeText(std::int64_t secondsSince1970);

} // namespace Manager
