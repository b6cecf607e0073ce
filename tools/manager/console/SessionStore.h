// The console's signed-in sessions: a random id in the browser's cookie,
// a form token per session, and a one-shot message for the next page.
// Sessions end after an idle time and on sign-out. Thread-safe.
#pragma once

#include <chrono>
#include <cstddef>
#include <map>
#include <mutex>
#include <optional>
#include <string>

namespace Manager {

struct Notice
{
    std::string text;
    bool isError = false;
};

struct SessionView
{
    std::string csrfToken;
};

class SessionStore
{
public:
    using Clock = std::chrono::steady_clock;

    // At most `capacity` sessions: a new one beyond that ends the one
    // unused for longest.
    SessionStore(std::chrono::seconds idleTimeout, std::size_t capacity);

    // A new session; returns its id, which only the browser keeps.
    std::string create(Clock::time_point now);
    // The live session with this id, which counts as a use of it.
    std::optional<SessionView> find(const std::string& id, Clock::time_point now);
    void end(const std::string& id);

    // The message shown once on the session's next page.
    void setNotice(const std::string& id, Notice notice);
    std::optional<Notice> takeNotice(const std::string& id);

private:
    struct Session
    {
        std::string csrfToken;
        Clock::time_point lastUse;
        std::optional<Notice> notice;
    };

    void dropIdle(Clock::time_point now);

    const std::chrono::seconds idleTimeout_;
    const std::size_t capacity_;
    std::mutex mutex_;
    // Keyed by the digest of the id: the table's lookup time then tells
    // nothing about ids that exist.
    std::map<std::string, Session> sessions_;
};

} // namespace Manager
