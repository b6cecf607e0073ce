// The voice privacy of one media stream: protects what the stream sends
// (SRTP and SRTCP under this radio's own sender keys) and checks and
// decrypts what it receives, one sender key per talker, as its channel's
// privacy says. The trunk transport calls it for every datagram; the relay
// and the trunk library only ever see opaque datagrams.
//
// Encrypted RTP carries a header extension of its own (profile 0x5256, no
// data) in front of the payload, covered by the SRTP tag: a radio without
// the key can tell encrypted voice from clear voice and shows "Encrypted"
// instead of playing noise.
#pragma once

#include "SenderKeys.h"
#include "SrtpSession.h"
#include "VoiceKey.h"
#include "debug_log_throttle.h"

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>

// What encrypting adds to an RTP packet at most: the marker extension and
// SRTP's MKI and tag (SRTCP adds its index word instead of the marker).
constexpr int kVoicePrivacyMostAdded = 4 + kSrtpMostAdded;

struct VoicePrivacyCounters
{
    std::uint64_t sentEncrypted = 0;   // RTP and RTCP packets sent protected
    std::uint64_t sendRefused = 0;     // not sent: the channel's key is unusable
    std::uint64_t senderKeys = 0;      // sender keys this stream has sent under
    std::uint64_t decrypted = 0;       // RTP and RTCP packets that authenticated
    std::uint64_t authenticationFailures = 0;
    std::uint64_t replays = 0;         // repeats, and packets under a sender's earlier key
    std::uint64_t clearRefused = 0;    // clear packets on a channel that is encrypted
    std::uint64_t unreadable = 0;      // encrypted packets without a key for them
    std::uint64_t malformed = 0;       // too short or broken to be SRTP
};

class VoicePrivacy
{
public:
    enum class Verdict
    {
        Clear,       // a clear packet on a clear channel: taken as it is
        Decrypted,   // authenticated and decrypted: taken
        Unreadable,  // encrypted voice this radio has no key for: not played
        Dropped,     // failed authentication, replayed, clear where encrypted, malformed
    };

    // Sender keys are numbered by the process's epochs unless a test
    // gives others (a radio restarted).
    explicit VoicePrivacy(SenderEpochs& epochs = SenderEpochs::instance());
    ~VoicePrivacy();
    VoicePrivacy(const VoicePrivacy&) = delete;
    VoicePrivacy& operator=(const VoicePrivacy&) = delete;

    // The channel's privacy, the group this stream sends to and the group
    // its talkers send to (both host order). Any change starts new sender
    // keys and forgets the talkers' keys.
    void configure(const ChannelPrivacy& privacy, VoiceScope sendScope, VoiceScope receiveScope);
    ChannelPrivacy::Mode mode() const;

    // Send side: true when the packet (length in and out, in a buffer of
    // capacity bytes) may be sent. Clear channels leave it as it is.
    bool protectRtp(unsigned char* packet, int& length, int capacity);
    bool protectRtcp(unsigned char* packet, int& length, int capacity);

    // Receive side, in place; the length shrinks to the clear packet.
    Verdict unprotectRtp(unsigned char* packet, int& length);
    Verdict unprotectRtcp(unsigned char* packet, int& length);

    VoicePrivacyCounters counters() const;
    // The key identifier the stream sends under now (tests look at it).
    std::optional<SenderMki> sendingMki() const;

    // How many talkers' keys a stream keeps; the least recently heard goes.
    static constexpr std::size_t kMostTalkers = 32;
    // New sender keys tried per second at most: each try derives a key, so
    // a flood of made-up key identifiers costs bounded work.
    static constexpr int kMostKeyTriesPerSecond = 50;

private:
    struct Sender;
    struct Talker;
    enum class Kind
    {
        Rtp,
        Rtcp
    };

    bool sendingSessionFor(std::uint32_t ssrc, std::optional<std::uint16_t> sequence);
    Verdict unprotect(Kind kind, unsigned char* packet, int& length, std::uint32_t ssrc, const SenderMki& mki);
    Verdict tryNewSenderKey(Kind kind, unsigned char* packet, int& length, std::uint32_t ssrc, const SenderMki& mki);
    bool mayTryAnotherKey();
    Verdict failed(std::atomic<std::uint64_t>& counter, debug_log_throttle_t& log, const char* what,
                   std::uint32_t ssrc);
    bool hasReceiveKeys() const;

    SenderEpochs& epochs_;
    mutable std::mutex mutex_;
    ChannelPrivacy privacy_;
    VoiceScope sendScope_ = 0;
    VoiceScope receiveScope_ = 0;
    std::unique_ptr<Sender> sender_;
    std::map<std::uint32_t, Talker> talkers_;
    std::uint64_t receiveTick_ = 0;
    std::int64_t triesSecond_ = 0;
    int triesThisSecond_ = 0;

    struct AtomicCounters
    {
        std::atomic<std::uint64_t> sentEncrypted{0}, sendRefused{0}, senderKeys{0}, decrypted{0},
            authenticationFailures{0}, replays{0}, clearRefused{0}, unreadable{0}, malformed{0};
    } counts_;
    debug_log_throttle_t authenticationLog_{"Dropped", "voice packets that failed authentication"};
    debug_log_throttle_t replayLog_{"Dropped", "replayed voice packets"};
    debug_log_throttle_t clearLog_{"Dropped", "clear voice packets on an encrypted channel"};
    debug_log_throttle_t malformedLog_{"Dropped", "malformed encrypted voice packets"};
    debug_log_throttle_t refusedLog_{"Refused to send", "voice packets without a usable key"};
};

// True for an RTP packet that carries the encrypted-voice marker.
bool isEncryptedVoicePacket(const unsigned char* packet, int length);
