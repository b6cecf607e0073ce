// Receive-activity decisions of one incoming RTP stream.
#include "ReceiveActivity.h"

#include <chrono>

ReceiveActivity::Change ReceiveActivity::packetReceived(device_id_t ssrc, std::int64_t nowMs)
{
    lastPacketMs_ = nowMs;
    if (active_)
        return Change::None;
    active_ = true;
    sender_ = ssrc;
    return Change::Active;
}

ReceiveActivity::Change ReceiveActivity::nothingReceived(std::int64_t nowMs)
{
    if (!active_ || nowMs - lastPacketMs_ < kSilenceMs)
        return Change::None;
    active_ = false;
    return Change::Inactive;
}

void ReceiveActivity::senderChanged(device_id_t ssrc)
{
    sender_ = ssrc;
}

std::int64_t monotonicMs()
{
    using namespace std::chrono;
    return duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count();
}
