// Tells when an incoming RTP stream goes active (with its sender's SSRC) and
// when it falls silent. Fed from the receive path of one session, on the
// ticker thread; times are milliseconds on a monotonic clock.
#pragma once

#include "device_id.h"

#include <cstdint>
#include <optional>

class ReceiveActivity
{
public:
    // How long a stream must stay silent before it counts as inactive: ten
    // packets at the default 100 ms packet interval, so that a late packet or
    // two never ends a transmission, while the channel is freed within about
    // a second after the talker lets go.
    static constexpr std::int64_t kSilenceMs = 1000;

    enum class Change { None, Active, Inactive, SenderChanged };

    // A packet from ssrc arrived. Active when the stream was silent.
    // SenderChanged when it comes from another station while the sender has
    // been silent for the silence time: that station took over the stream
    // (another one's packets kept it active). A station talking over the
    // sender does not take it over while the sender still talks.
    Change packetReceived(device_id_t ssrc, std::int64_t nowMs);
    // A receive pass found nothing. Inactive once the silence is long enough.
    Change nothingReceived(std::int64_t nowMs);
    // The sender changed while active (as the RTP library saw it): the
    // stream counts as newly active with that sender. False when ssrc
    // already is the sender, so that a change is reported once.
    bool senderChanged(device_id_t ssrc, std::int64_t nowMs);

    bool active() const { return active_; }
    device_id_t sender() const { return sender_; }

private:
    bool active_ = false;
    device_id_t sender_ = 0;
    std::int64_t lastPacketMs_ = 0;       // from any station
    std::int64_t lastSenderPacketMs_ = 0; // from the sender
};

// Milliseconds of the monotonic clock.
std::int64_t monotonicMs();
