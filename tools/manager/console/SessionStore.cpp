// Sessions kept in memory: a restart of the service signs everyone out.
#include "SessionStore.h"

#include "Tokens.h"

#include <algorithm>

namespace Manager {

SessionStore::SessionStore(std::chrono::seconds idleTimeout, std::size_t capacity)
    : idleTimeout_(idleTimeout), capacity_(std::max<std::size_t>(capacity, 1))
{
}

std::string SessionStore::create(Clock::time_point now)
{
    const std::string id = randomToken();
    std::lock_guard<std::mutex> lock(mutex_);
    dropIdle(now);
    if (sessions_.size() >= capacity_) {
        const auto oldest = std::min_element(sessions_.begin(), sessions_.end(), [](const auto& a, const auto& b) {
            return a.second.lastUse < b.second.lastUse;
        });
        sessions_.erase(oldest);
    }
    sessions_[tokenDigest(id)] = Session{randomToken(), now, std::nullopt};
    return id;
}

std::optional<SessionView> SessionStore::find(const std::string& id, Clock::time_point now)
{
    if (id.empty())
        return std::nullopt;
    const std::string key = tokenDigest(id);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(key);
    if (found == sessions_.end())
        return std::nullopt;
    if (now - found->second.lastUse >= idleTimeout_) {
        sessions_.erase(found);
        return std::nullopt;
    }
    found->second.lastUse = now;
    return SessionView{found->second.csrfToken};
}

void SessionStore::end(const std::string& id)
{
    const std::string key = tokenDigest(id);
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(key);
}

void SessionStore::setNotice(const std::string& id, Notice notice)
{
    const std::string key = tokenDigest(id);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(key);
    if (found != sessions_.end())
        found->second.notice = std::move(notice);
}

std::optional<Notice> SessionStore::takeNotice(const std::string& id)
{
    const std::string key = tokenDigest(id);
    std::lock_guard<std::mutex> lock(mutex_);
    const auto found = sessions_.find(key);
    if (found == sessions_.end())
        return std::nullopt;
    std::optional<Notice> notice = std::move(found->second.notice);
    found->second.notice.reset();
    return notice;
}

void SessionStore::dropIdle(Clock::time_point now)
{
    for (auto it = sessions_.begin(); it != sessions_.end();) {
        if (now - it->second.lastUse >= idleTimeout_)
            it = sessions_.erase(it);
        else
            ++it;
    }
}

} // namespace Manager
