// The six trunk transport callbacks and the individual-call forwarding.
#include "RtpTrunkTransport.h"

#include "ContactsManager.h"
#include "DeviceIdentity.h"
#include "ReceiveActivity.h"
#include "TrunkCalls.h"
#include "VoicePrivacy.h"
#include "debug_log.h"
#include "debug_log_stream.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <vector>

namespace {

std::mutex entryMutex;
IncomingIndividualCallEntry incomingIndividualCallEntry;

device_id_t ownDeviceId()
{
    static std::once_flag once;
    static device_id_t id = 0;
    std::call_once(once, [] { id = getDeviceId(); });
    return id;
}

// Trunk datagrams carry up to 1988 bytes; encryption adds a little.
constexpr int kMostDatagram = 2048;
// Datagrams one receive call looks at, at most, while it drops what fails
// the session's voice privacy, so that a flood never holds the ticker.
constexpr int kMostRefusedPerCall = 32;

RtpReceiveObserver* observerOf(RtpTransport* t)
{
    return static_cast<RtpReceiveObserver*>(t->data);
}

// The session's voice privacy when it is not clear: its datagrams are then
// protected on the way out and checked on the way in.
VoicePrivacy* privacyOf(RtpTransport* t)
{
    RtpReceiveObserver* observer = observerOf(t);
    VoicePrivacy* privacy = observer != nullptr ? observer->voicePrivacy() : nullptr;
    return privacy != nullptr && privacy->mode() != ChannelPrivacy::Mode::Clear ? privacy : nullptr;
}

// Sends a protected copy of the message. A packet that may not be sent
// (the channel's key is unusable) counts as sent for oRTP, which would
// otherwise report every one as a network error.
template <typename Send, typename Protect>
int sendProtected(mblk_t* msg, Protect protect, Send send)
{
    const int size = static_cast<int>(msgdsize(msg));
    unsigned char packet[kMostDatagram];
    int length = size;
    if (size + kVoicePrivacyMostAdded > kMostDatagram)
        return size;
    std::memcpy(packet, msg->b_rptr, static_cast<std::size_t>(size));
    if (!protect(packet, length, kMostDatagram))
        return size;
    const int sent = send(packet, length);
    return sent < 0 ? sent : size;
}

int messageCapacity(mblk_t* msg)
{
    return static_cast<int>(dblk_lim(msg->b_datap) - msg->b_wptr);
}

ortp_socket_t RtpTransportCallback_rtp_getsocket(RtpTransport* t)
{
    const ortp_socket_t socket = t->session->rtp.gs.socket;
    trunk::registerSocket(socket);
    return socket;
}

ortp_socket_t RtpTransportCallback_rtcp_getsocket(RtpTransport* t)
{
    const ortp_socket_t socket = t->session->rtcp.gs.socket;
    trunk::registerSocket(socket);
    return socket;
}

// oRTP hands RTCP compounds over as chained blocks; the trunk sends one block.
mblk_t* singleBlock(mblk_t* msg)
{
    if (msg->b_cont != nullptr)
        msgpullup(msg, static_cast<size_t>(-1));
    return msg;
}

int RtpTransportCallback_rtp_sendto(RtpTransport* t, mblk_t* msg, int flags, const struct sockaddr* to,
                                    socklen_t tolen)
{
    singleBlock(msg);
    // The marker bit starts a talkspurt: listeners restart their decoders on it.
    RtpReceiveObserver* observer = observerOf(t);
    if (observer != nullptr && msgdsize(msg) >= 12 && observer->rtpTalkspurtStarts())
        msg->b_rptr[1] |= 0x80;
    const ortp_socket_t socket = t->session->rtp.gs.socket;
    auto send = [&](const unsigned char* data, int length) {
        return trunk::sendRtp(socket, data, length, flags, to, static_cast<int>(tolen));
    };
    VoicePrivacy* privacy = privacyOf(t);
    const int err = privacy == nullptr ? send(msg->b_rptr, static_cast<int>(msgdsize(msg)))
                                       : sendProtected(
                                             msg,
                                             [privacy](unsigned char* packet, int& length, int capacity) {
                                                 return privacy->protectRtp(packet, length, capacity);
                                             },
                                             send);
    debug_log_cout("DEBUG_SENDTO") << "Leaving " << "RtpTransportCallback_rtp_sendto" << " with err: " << err << "\n";
    return err;
}

int RtpTransportCallback_rtcp_sendto(RtpTransport* t, mblk_t* msg, int flags, const struct sockaddr* to,
                                     socklen_t tolen)
{
    singleBlock(msg);
    const ortp_socket_t socket = t->session->rtcp.gs.socket;
    auto send = [&](const unsigned char* data, int length) {
        return trunk::sendRtcp(socket, data, length, flags, to, static_cast<int>(tolen));
    };
    VoicePrivacy* privacy = privacyOf(t);
    if (privacy == nullptr)
        return send(msg->b_rptr, static_cast<int>(msgdsize(msg)));
    // The caller identity travels in SRTCP on an encrypted channel.
    return sendProtected(
        msg,
        [privacy](unsigned char* packet, int& length, int capacity) {
            return privacy->protectRtcp(packet, length, capacity);
        },
        send);
}

device_id_t bigEndian32(const unsigned char* bytes)
{
    return (device_id_t(bytes[0]) << 24) | (device_id_t(bytes[1]) << 16) | (device_id_t(bytes[2]) << 8) |
           device_id_t(bytes[3]);
}

// The sender of an RTCP compound: the SSRC of its first report.
device_id_t rtcpSenderSsrc(const unsigned char* packet, int n)
{
    return n < 8 ? 0 : bigEndian32(packet + 4);
}

// The radio's own packets come back to it: multicast is looped to the
// sending host, and a relay may echo a group's traffic to every subscriber.
// Taken as a talker they would make the channel busy under the radio's own
// transmission and play its voice back, so they are never handed on. Device
// id 0 means "no identity yet", shared by every such radio, so it filters
// nothing.
bool isOwnPacket(device_id_t ssrc)
{
    const device_id_t own = ownDeviceId();
    return own != 0 && ssrc == own;
}

// Receives the next datagram that is not the radio's own. A bounded number
// of own packets is skipped per call so one call never spins.
template <typename Receive> int receiveSkippingOwn(Receive receive, device_id_t (*ssrcOf)(const unsigned char*, int),
                                                   const unsigned char* packet)
{
    constexpr int kMostOwnPacketsSkipped = 32;
    int n = receive();
    for (int skipped = 0; n > 0 && isOwnPacket(ssrcOf(packet, n)) && skipped < kMostOwnPacketsSkipped; ++skipped)
        n = receive();
    return n > 0 && isOwnPacket(ssrcOf(packet, n)) ? 0 : n;
}

int RtpTransportCallback_rtcp_recvfrom(RtpTransport* t, mblk_t* msg, int flags, struct sockaddr* from,
                                       socklen_t* fromlen)
{
    auto receive = [&] {
        return receiveSkippingOwn(
            [&] {
                int fromLength = fromlen != nullptr ? static_cast<int>(*fromlen) : 0;
                const int received = trunk::receiveRtcp(t->session->rtcp.gs.socket, msg->b_wptr,
                                                        messageCapacity(msg), flags, from,
                                                        fromlen != nullptr ? &fromLength : nullptr);
                if (fromlen != nullptr && received > 0)
                    *fromlen = static_cast<socklen_t>(fromLength);
                return received;
            },
            rtcpSenderSsrc, msg->b_wptr);
    };
    int n = receive();
    // On an encrypted channel only SRTCP that authenticates is read: a
    // caller identity in clear, or under another key, is nobody's.
    if (VoicePrivacy* privacy = privacyOf(t)) {
        for (int refused = 0; n > 0; n = receive()) {
            const VoicePrivacy::Verdict verdict = privacy->unprotectRtcp(msg->b_wptr, n);
            if (verdict == VoicePrivacy::Verdict::Decrypted || verdict == VoicePrivacy::Verdict::Clear)
                break;
            if (++refused == kMostRefusedPerCall) {
                n = 0;
                break;
            }
        }
    }
    if (n > 0) {
        debug_log_cout("DEBUG_SHOW_RTP_PACKETS")
            << "RtpTransportCallback_rtcp_recvfrom received a packet of size " << n << "\n";
        if (RtpReceiveObserver* observer = observerOf(t))
            observer->rtcpMessageReceived(msg->b_wptr, n);
    }
    return n;
}

void printPacketStart(const unsigned char* packet, int n)
{
    if (!debug_log_is_enabled("PRINT_RECEIVED_PACKET_CONTENTS"))
        return;
    debug_log_ostream& out = get_debug_log_ostream_enabled();
    out << "Received " << n << " byte packet: ";
    for (int i = 0; i < std::min(n, 10); ++i)
        out << static_cast<unsigned>(packet[i]) << ", ";
    out << "\n";
}

std::string sessionRemoteAddress(RtpSession* session)
{
    const auto* remote = reinterpret_cast<const sockaddr_in*>(&session->rtp.gs.rem_addr);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(&remote->sin_addr.s_addr);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", b[0], b[1], b[2], b[3]);
    return text;
}

// The packets of a caller whose call is being set up. The radio starts an
// individual call on its own thread, and only then does the transmit stream
// join the caller's address; until it has, the caller's packets wait here,
// in order, instead of being lost (the first 100 ms or so of every call).
// One caller waits at a time; packets that wait longer than a second are
// dropped (the radio did not take the call: it is busy with another).
class WaitingCall
{
public:
    static constexpr std::size_t kMostPackets = 64;
    static constexpr std::int64_t kLongestWaitMs = 1000;

    bool waiting() const { return waiting_.load(std::memory_order_relaxed); }

    // Hands the waiting packets on once a stream has joined the caller's
    // address; drops them when they waited too long.
    void deliverOrExpire()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (packets_.empty())
            return;
        if (trunk::queuePacketToGroup(address_.c_str(), packets_.front().data(),
                                      static_cast<int>(packets_.front().size())) > 0) {
            for (std::size_t i = 1; i < packets_.size(); ++i)
                trunk::queuePacketToGroup(address_.c_str(), packets_[i].data(), static_cast<int>(packets_[i].size()));
            clear();
        } else if (monotonicMs() - since_ > kLongestWaitMs) {
            discardAll();
        }
    }

    // Keeps the packet when its caller's call is being set up; false when
    // another path must take it.
    bool holdIfWaiting(device_id_t caller, const unsigned char* packet, int n)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (packets_.empty() || caller != caller_)
            return false;
        hold(packet, n);
        return true;
    }

    // Starts waiting for the caller's call; false while another caller's
    // call is being set up (its packet is then dropped).
    bool startWaiting(device_id_t caller, const std::string& address, const unsigned char* packet, int n)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!packets_.empty()) {
            debug_log_cout("DEBUG_FEEDBACK2HALVANE") << "Packet from " << address << " discarded because a call from "
                                                     << address_ << " is being set up" << "\n";
            return false;
        }
        caller_ = caller;
        address_ = address;
        since_ = monotonicMs();
        hold(packet, n);
        return true;
    }

private:
    void hold(const unsigned char* packet, int n)
    {
        if (packets_.size() == kMostPackets) {
            logDiscard();
            packets_.pop_front();
        }
        packets_.emplace_back(packet, packet + n);
        waiting_ = true;
    }
    void discardAll()
    {
        for (std::size_t i = 0; i < packets_.size(); ++i)
            logDiscard();
        clear();
    }
    void logDiscard() const
    {
        debug_log_cout("DEBUG_FEEDBACK2HALVANE") << "Packet from " << address_
                                                 << " discarded because didn't find a socket to forward it to" << "\n";
    }
    void clear()
    {
        packets_.clear();
        waiting_ = false;
    }

    std::mutex mutex_;
    std::deque<std::vector<unsigned char>> packets_;
    std::atomic<bool> waiting_{false};
    device_id_t caller_ = 0;
    std::string address_;
    std::int64_t since_ = 0;
};

WaitingCall& waitingCall()
{
    static WaitingCall* const call = new WaitingCall;
    return *call;
}

void startIncomingCall(device_id_t caller)
{
    IncomingIndividualCallEntry entry;
    {
        std::lock_guard<std::mutex> lock(entryMutex);
        entry = incomingIndividualCallEntry;
    }
    if (entry)
        entry(caller);
}

void forwardToCallerStream(unsigned char* packet, int n)
{
    // A packet too short to carry an SSRC names no caller.
    if (n < 12)
        return;
    const device_id_t caller = rtpPacketSsrc(packet, n);
    const std::string callerAddress = individualCallAddress(caller);
    debug_log_cout("DEBUG_FEEDBACK2HALVANE") << "Queueing a packet for the socket that's joined to " << callerAddress
                                             << "\n";
    WaitingCall& waiting = waitingCall();
    waiting.deliverOrExpire();
    if (waiting.holdIfWaiting(caller, packet, n))
        return;
    if (trunk::queuePacketToGroup(callerAddress.c_str(), packet, n) > 0)
        return;
    // No stream has joined the caller's address: the radio starts the call,
    // on its own thread, and the packet waits for it.
    if (waiting.startWaiting(caller, callerAddress, packet, n))
        startIncomingCall(caller);
}

// Receives the next RTP packet the stream may take. Encrypted voice is
// checked and decrypted in place; what fails is dropped and the next
// datagram read, a bounded number per call. For the individual-call receive
// stream, encrypted holds the packet as it came, to be handed on encrypted:
// the stream that plays it checks it again under its own replay window.
int receiveAcceptedRtp(RtpTransport* t, mblk_t* msg, int flags, struct sockaddr* from, socklen_t* fromlen,
                       bool keepEncrypted, std::vector<unsigned char>& encrypted)
{
    RtpSession* session = t->session;
    auto receive = [&] {
        return receiveSkippingOwn(
            [&] {
                int fromLength = fromlen != nullptr ? static_cast<int>(*fromlen) : 0;
                const int received = trunk::receiveRtp(session->rtp.gs.socket, msg->b_wptr, messageCapacity(msg),
                                                       flags, from, fromlen != nullptr ? &fromLength : nullptr);
                if (fromlen != nullptr && received > 0)
                    *fromlen = static_cast<socklen_t>(fromLength);
                return received;
            },
            rtpPacketSsrc, msg->b_wptr);
    };
    int n = receive();
    VoicePrivacy* privacy = observerOf(t) != nullptr ? observerOf(t)->voicePrivacy() : nullptr;
    if (privacy == nullptr)
        return n;
    unsigned char* packet = msg->b_wptr;
    for (int refused = 0; n > 0; n = receive()) {
        encrypted.clear();
        if (keepEncrypted && isEncryptedVoicePacket(packet, n))
            encrypted.assign(packet, packet + n);
        const VoicePrivacy::Verdict verdict = privacy->unprotectRtp(packet, n);
        if (verdict == VoicePrivacy::Verdict::Decrypted || verdict == VoicePrivacy::Verdict::Clear)
            return n;
        if (verdict == VoicePrivacy::Verdict::Unreadable)
            observerOf(t)->rtpUnreadablePacketReceived(rtpPacketSsrc(packet, n));
        if (++refused == kMostRefusedPerCall)
            return 0;
    }
    return n;
}

int RtpTransportCallback_rtp_recvfrom(RtpTransport* t, mblk_t* msg, int flags, struct sockaddr* from,
                                      socklen_t* fromlen)
{
    RtpSession* session = t->session;
    if (waitingCall().waiting())
        waitingCall().deliverOrExpire();
    const bool forwarding = individualCallAddress(ownDeviceId()) == sessionRemoteAddress(session);
    std::vector<unsigned char> encrypted;
    const int n = receiveAcceptedRtp(t, msg, flags, from, fromlen, forwarding, encrypted);
    RtpReceiveObserver* observer = observerOf(t);
    if (n <= 0) {
        if (observer != nullptr)
            observer->rtpNothingReceived();
        return n;
    }
    unsigned char* packet = msg->b_wptr;
    printPacketStart(packet, n);
    if (!forwarding) {
        debug_log_cout("DEBUG_RECVFROM") << "Returning packet of size " << n << " for socket "
                                         << session->rtp.gs.socket << "\n";
        if (observer != nullptr)
            observer->rtpPacketReceived(packet, n);
        return n;
    }
    // The caller is this stream's talker even though its packets play on
    // the stream joined to the caller's address: the radio learns of the
    // incoming call from this stream's activity.
    if (observer != nullptr)
        observer->rtpPacketReceived(packet, n);
    if (encrypted.empty())
        forwardToCallerStream(packet, n);
    else
        forwardToCallerStream(encrypted.data(), static_cast<int>(encrypted.size()));
    return 0;
}

void destroyTransport(RtpTransport* t)
{
    ortp_free(t);
}

RtpTransport* newTransport(void* data, bool rtp)
{
    auto* t = static_cast<RtpTransport*>(ortp_malloc0(sizeof(RtpTransport)));
    t->data = data;
    t->t_getsocket = rtp ? RtpTransportCallback_rtp_getsocket : RtpTransportCallback_rtcp_getsocket;
    t->t_sendto = rtp ? RtpTransportCallback_rtp_sendto : RtpTransportCallback_rtcp_sendto;
    t->t_recvfrom = rtp ? RtpTransportCallback_rtp_recvfrom : RtpTransportCallback_rtcp_recvfrom;
    t->t_destroy = destroyTransport;
    return t;
}

} // namespace

device_id_t rtpPacketSsrc(const unsigned char* packet, int length)
{
    return length < 12 ? 0 : bigEndian32(packet + 8);
}

void createTrunkTransports(void* data, RtpTransport** rtp, RtpTransport** rtcp)
{
    if (*rtp == nullptr)
        *rtp = newTransport(data, true);
    if (*rtcp == nullptr)
        *rtcp = newTransport(data, false);
}

void bindTrunkTransports(RtpSession* session, RtpReceiveObserver* observer)
{
    RtpTransport* oldRtp = nullptr;
    RtpTransport* oldRtcp = nullptr;
    rtp_session_get_transports(session, &oldRtp, &oldRtcp);
    RtpTransport* rtp = nullptr;
    RtpTransport* rtcp = nullptr;
    createTrunkTransports(observer, &rtp, &rtcp);
    rtp_session_set_transports(session, rtp, rtcp);
    if (oldRtp != nullptr)
        meta_rtp_transport_destroy(oldRtp);
    if (oldRtcp != nullptr)
        meta_rtp_transport_destroy(oldRtcp);
}

void setIncomingIndividualCallEntry(IncomingIndividualCallEntry entry)
{
    std::lock_guard<std::mutex> lock(entryMutex);
    incomingIndividualCallEntry = std::move(entry);
}
