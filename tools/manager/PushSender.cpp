// The notice loop of the serving process.
#include "PushSender.h"

#include "ControlClient.h"

#include <algorithm>
#include <chrono>

namespace Manager {

namespace {

constexpr std::chrono::milliseconds kRelayAnswerWait{500};
constexpr std::int64_t kFirstBackOffSeconds = 5;
constexpr std::int64_t kLongestBackOffSeconds = 600;

std::int64_t Now()
{
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

} // namespace

PushSender::PushSender(Store& store, std::vector<std::string> relayControls, std::size_t noticesPerSecond,
                       std::function<void(const std::string&)> beforeNotice)
    : store_(store), relays_(std::move(relayControls)), noticesPerSecond_(std::max<std::size_t>(1, noticesPerSecond)),
      beforeNotice_(std::move(beforeNotice)), relayWasDown_(relays_.size(), false)
{
}

PushSender::~PushSender()
{
    stop();
}

std::int64_t PushSender::backOff(int attempts)
{
    std::int64_t seconds = kFirstBackOffSeconds;
    for (int i = 0; i < attempts && seconds < kLongestBackOffSeconds; ++i)
        seconds *= 2;
    return std::min(seconds, kLongestBackOffSeconds);
}

void PushSender::start()
{
    if (relays_.empty())
        logLine("no --relay-control socket given: settings-changed notices stay queued");
    thread_ = std::thread([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        while (!stopping_) {
            lock.unlock();
            try {
                store_.expireReplacedVoiceKeys(Now());
                sendDue(Now());
            } catch (const FleetError& error) {
                log_.log("queue", std::string("cannot read or update the notice queue: ") + error.what());
            }
            lock.lock();
            wake_.wait_for(lock, std::chrono::seconds(1), [this] { return stopping_; });
        }
    });
}

void PushSender::stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

void PushSender::sendDue(std::int64_t now)
{
    if (relays_.empty())
        return;
    std::vector<bool> relayDown(relays_.size(), false);
    std::size_t sent = 0, failed = 0;
    for (const PendingPush& push : store_.duePushes(now, noticesPerSecond_)) {
        if (beforeNotice_ && push.attempts == 0)
            beforeNotice_(push.code);
        const Outcome outcome = deliver(push.code, relayDown);
        if (outcome == Outcome::Delivered) {
            store_.pushDelivered(push);
            ++sent;
            continue;
        }
        store_.pushFailed(push, outcome == Outcome::NotConnected ? "not connected to a relay" : "no relay answered",
                          now + backOff(push.attempts));
        ++failed;
    }
    for (std::size_t i = 0; i < relays_.size(); ++i) {
        if (relayDown[i] != relayWasDown_[i] && (relayDown[i] || sent > 0))
            logLine("relay control socket " + relays_[i] + (relayDown[i] ? " does not answer" : " answers again"));
        if (relayDown[i] || sent > 0)
            relayWasDown_[i] = relayDown[i];
    }
    if (sent + failed > 0)
        log_.log("round", "settings-changed notices: " + std::to_string(sent) + " sent, " + std::to_string(failed) +
                              " to try again");
}

// Through every relay that answers: a unit is connected to one of them.
PushSender::Outcome PushSender::deliver(const std::string& code, std::vector<bool>& relayDown)
{
    bool answered = false;
    for (std::size_t i = 0; i < relays_.size(); ++i) {
        if (relayDown[i])
            continue;
        std::string reply;
        if (!Relay::SendControlRequest(relays_[i], "notify 0x" + code, reply, kRelayAnswerWait)) {
            relayDown[i] = true;  // not asked again in this pass
            continue;
        }
        answered = true;
        if (reply.rfind("notified ", 0) == 0 && std::atoi(reply.c_str() + 9) > 0)
            return Outcome::Delivered;
    }
    return answered ? Outcome::NotConnected : Outcome::NoRelay;
}

} // namespace Manager
