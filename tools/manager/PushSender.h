// Sends the queued settings-changed notices through the relays' control
// sockets ("notify 0x<code>"; the relay tells the unit if it is connected).
// The serving process polls the queue about once a second, so changes made
// by the command line are sent too. Notices go out at a bounded rate (every
// notified radio fetches its settings at once); a notice no relay could
// deliver is tried again with a growing back-off, until it is delivered or
// the unit fetched its current settings anyway. The same pass ends the grace
// period of replaced voice keys, which queues notices of its own.
#pragma once

#include "ServiceLog.h"
#include "Store.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace Manager {

class PushSender
{
public:
    // beforeNotice runs for each unit before its notice goes out (the
    // service makes the unit's reply then).
    PushSender(Store& store, std::vector<std::string> relayControls, std::size_t noticesPerSecond = 50,
               std::function<void(const std::string& code)> beforeNotice = nullptr);
    ~PushSender();

    void start();
    void stop();
    // One pass over the notices due at now (seconds since 1970).
    void sendDue(std::int64_t now);

    // Seconds before the next attempt after this many failed ones.
    static std::int64_t backOff(int attempts);

private:
    enum class Outcome
    {
        Delivered,
        NotConnected,
        NoRelay,
    };
    Outcome deliver(const std::string& code, std::vector<bool>& relayDown);

    Store& store_;
    std::vector<std::string> relays_;
    std::size_t noticesPerSecond_;
    std::function<void(const std::string&)> beforeNotice_;
    std::vector<bool> relayWasDown_;
    ThrottledLog log_;

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
};

} // namespace Manager
