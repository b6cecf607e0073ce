// Limits an always-printed diagnostic that outside input can repeat at will
// (one per received datagram) to a line now and then: the first occurrence
// after a quiet spell is printed in full by the caller, the others are only
// counted, and at most one summary line per interval gives their number,
// for example "Dropped 12345 more malformed trunk datagrams in the last 10 s".
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>

class debug_log_throttle_t
{
public:
    using clock = std::chrono::steady_clock;

    // The summary reads "<verb> <count> more <what> in the last <seconds> s".
    debug_log_throttle_t(std::string verb, std::string what,
                         clock::duration interval = std::chrono::seconds(10));
    // Prints the summary of what is still only counted.
    ~debug_log_throttle_t();
    debug_log_throttle_t(const debug_log_throttle_t&) = delete;
    debug_log_throttle_t& operator=(const debug_log_throttle_t&) = delete;

    // Counts one occurrence. True when the caller should print it in full:
    // the first one, and the first after an interval that counted nothing.
    // Otherwise it goes into the next summary, which is printed here when
    // its interval is over.
    bool occurred(clock::time_point now = clock::now());
    // Prints the summary when its interval is over; for places that run
    // while occurrences have stopped (a poll), so the last ones are told.
    void flush(clock::time_point now = clock::now());
    // Prints the summary at once, whatever the time.
    void flush_now(clock::time_point now = clock::now());
    // Every occurrence counted so far, printed in full or summarised.
    std::uint64_t total() const;

private:
    // With the mutex held.
    void print_summary(clock::time_point now);

    const std::string verb_;
    const std::string what_;
    const clock::duration interval_;
    mutable std::mutex mutex_;
    std::uint64_t total_ = 0;
    // Counted since the last line; read without the mutex by flush.
    std::atomic<std::uint64_t> unreported_{0};
    bool started_ = false;
    clock::time_point since_{};
};
