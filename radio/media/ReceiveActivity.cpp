// Receive-activity decisions of one incoming RTP stream.
#include "ReceiveActivity.h"

#include <chrono>

ReceiveActivity::Change ReceiveActivity::packetReceived(device_id_t ssrc, std::int64_t nowMs)
{
    lastPacketMs_ = nowMs;
    if (!active_) {
        active_ = true;
        sender_ = ssrc;
        lastSenderPacketMs_ = nowMs;
        return Change::Active;
    }
    if (ssrc == sender_) {
        lastSenderPacketMs_ = nowMs;
        return Change::None;
    }
    if (nowMs - lastSenderPacketMs_ < kSilenceMs)
        return Change::None;
    sender_ = ssrc;
    lastSenderPacketMs_ = nowMs;
    return Change::SenderChanged;
}

ReceiveActivity::Change ReceiveActivity::nothingReceived(std::int64_t nowMs)
{
    if (!active_ || nowMs - lastPacketMs_ < kSilenceMs)
        return Change::None;
    active_ = false;
    return Change::Inactive;
}

bool ReceiveActivity::senderChanged(device_id_t ssrc, std::int64_t nowMs)
{
    lastSenderPacketMs_ = nowMs;
    if (ssrc == sender_)
        return false;
    sender_ = ssrc;
    return true;
}

std::int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
