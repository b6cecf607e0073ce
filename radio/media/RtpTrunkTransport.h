// oRTP transports that send and receive every RTP and RTCP packet of a media
// session through the trunk library, and hand packets for this unit's
// individual-call address on to the stream joined to the caller's address.
#pragma once

#include "device_id.h"

#include <functional>
#include <ortp/ortp.h>

class VoicePrivacy;

// What a media session learns from its transports, on the ticker thread: each
// received RTP packet, each receive pass that found nothing, and each
// received RTCP message; and whether the RTP packet being sent starts a
// talkspurt (the transport then sets its marker bit). Given as the
// transports' data, with the session's voice privacy, which protects every
// datagram sent and checks every one received.
class RtpReceiveObserver
{
public:
    virtual ~RtpReceiveObserver() = default;
    virtual void rtpPacketReceived(const unsigned char* packet, int length) = 0;
    virtual void rtpNothingReceived() = 0;
    virtual void rtcpMessageReceived(const unsigned char* message, int length) = 0;
    // True once for the first packet of a transmission.
    virtual bool rtpTalkspurtStarts() { return false; }
    // Encrypted voice from ssrc that this radio has no key for: not played.
    virtual void rtpUnreadablePacketReceived(device_id_t /*ssrc*/) {}
    // None: every datagram goes as it is.
    virtual VoicePrivacy* voicePrivacy() { return nullptr; }
};

// The SSRC of an RTP packet (0 for one too short to carry it).
device_id_t rtpPacketSsrc(const unsigned char* packet, int length);

// Creates the RTP transport when *rtp is empty and the RTCP transport when
// *rtcp is empty; data is an RtpReceiveObserver or null.
void createTrunkTransports(void* data, RtpTransport** rtp, RtpTransport** rtcp);

// Replaces the session's own transports with trunk transports and frees the
// replaced ones.
void bindTrunkTransports(RtpSession* session, RtpReceiveObserver* observer);

// The radio's entry for a packet from a caller whose address no stream has
// joined yet: it starts an individual call with that caller. Called on the
// ticker thread; it may start the call later on another thread: the
// caller's packets wait (up to a second) until a stream has joined the
// caller's address, and are then handed on in order.
using IncomingIndividualCallEntry = std::function<void(device_id_t caller)>;
void setIncomingIndividualCallEntry(IncomingIndividualCallEntry entry);

// Declared by oRTP's library but not in its public headers.
extern "C" void rtp_session_set_transports(RtpSession* session, RtpTransport* rtptr, RtpTransport* rtcptr);
