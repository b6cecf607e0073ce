// Throttled diagnostics: full lines for the first occurrences, then counts.
#include "debug_log_throttle.h"

#include "debug_log.h"

#include <utility>

debug_log_throttle_t::debug_log_throttle_t(std::string verb, std::string what, clock::duration interval)
    : verb_(std::move(verb)), what_(std::move(what)), interval_(interval)
{
}

debug_log_throttle_t::~debug_log_throttle_t()
{
    flush_now();
}

bool debug_log_throttle_t::occurred(clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    ++total_;
    if (!started_) {
        started_ = true;
        since_ = now;
        return true;
    }
    if (now - since_ >= interval_) {
        const bool quiet = unreported_.load(std::memory_order_relaxed) == 0;
        print_summary(now);
        since_ = now;
        if (quiet)
            return true;
    }
    unreported_.fetch_add(1, std::memory_order_relaxed);
    return false;
}

void debug_log_throttle_t::flush(clock::time_point now)
{
    if (unreported_.load(std::memory_order_relaxed) == 0)
        return;
    std::lock_guard<std::mutex> lock(mutex_);
    if (now - since_ >= interval_) {
        print_summary(now);
        since_ = now;
    }
}

void debug_log_throttle_t::flush_now(clock::time_point now)
{
    std::lock_guard<std::mutex> lock(mutex_);
    print_summary(now);
    since_ = now;
}

std::uint64_t debug_log_throttle_t::total() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return total_;
}

void debug_log_throttle_t::print_summary(clock::time_point now)
{
    const std::uint64_t count = unreported_.exchange(0, std::memory_order_relaxed);
    if (count == 0)
        return;
    // Whole seconds, rounded up: a summary never claims "the last 0 s".
    const auto elapsed = std::chrono::ceil<std::chrono::seconds>(now - since_).count();
    debug_log_printf_always("%s %llu more %s in the last %lld s\n", verb_.c_str(),
                            static_cast<unsigned long long>(count), what_.c_str(),
                            static_cast<long long>(elapsed > 0 ? elapsed : 1));
}
