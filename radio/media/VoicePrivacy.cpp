// Protecting and checking one stream's voice (see VoicePrivacy.h; the key
// scheme is described in SenderKeys.cpp).
#include "VoicePrivacy.h"

#include "debug_log.h"

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

namespace {

// The marker extension: "defined by profile" 0x5256, no data words.
constexpr unsigned char kMarker[4] = {0x52, 0x56, 0x00, 0x00};
constexpr int kMarkerLength = 4;
constexpr int kRtpFixedHeader = 12;
constexpr int kRtcpSenderPart = 8;
constexpr int kSrtcpIndexWord = 4;
constexpr int kMkiLength = static_cast<int>(kSenderMkiLength);

std::uint32_t bigEndian32(const unsigned char* bytes)
{
    return (std::uint32_t(bytes[0]) << 24) | (std::uint32_t(bytes[1]) << 16) | (std::uint32_t(bytes[2]) << 8) |
           std::uint32_t(bytes[3]);
}

// The fixed header and the CSRC list; -1 for what is no RTP version 2.
int rtpHeaderLength(const unsigned char* packet, int length)
{
    if (length < kRtpFixedHeader || (packet[0] >> 6) != 2)
        return -1;
    const int header = kRtpFixedHeader + 4 * (packet[0] & 0x0F);
    return header <= length ? header : -1;
}

// The key identifier of an SRTP or SRTCP packet: in front of the tag.
SenderMki trailingMki(const unsigned char* packet, int length)
{
    SenderMki mki;
    std::memcpy(mki.data(), packet + length - kSrtpTagLength - kMkiLength, kSenderMkiLength);
    return mki;
}

std::int64_t monotonicSeconds()
{
    using namespace std::chrono;
    return duration_cast<seconds>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

bool isEncryptedVoicePacket(const unsigned char* packet, int length)
{
    const int header = rtpHeaderLength(packet, length);
    return header >= 0 && (packet[0] & 0x10) != 0 && length >= header + kMarkerLength &&
           std::memcmp(packet + header, kMarker, kMarkerLength) == 0;
}

struct VoicePrivacy::Sender
{
    std::unique_ptr<SrtpSession> session;
    std::uint32_t ssrc = 0;
    std::optional<std::uint16_t> lastSequence;
};

struct VoicePrivacy::Talker
{
    std::unique_ptr<SrtpSession> session;
    std::uint64_t epoch = 0;
    std::uint64_t lastHeard = 0;
};

VoicePrivacy::VoicePrivacy(SenderEpochs& epochs) : epochs_(epochs) {}
VoicePrivacy::~VoicePrivacy() = default;

void VoicePrivacy::configure(const ChannelPrivacy& privacy, VoiceScope sendScope, VoiceScope receiveScope)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (privacy == privacy_ && sendScope == sendScope_ && receiveScope == receiveScope_)
        return;
    privacy_ = privacy;
    sendScope_ = sendScope;
    receiveScope_ = receiveScope;
    sender_.reset();
    talkers_.clear();
}

ChannelPrivacy::Mode VoicePrivacy::mode() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return privacy_.mode;
}

bool VoicePrivacy::hasReceiveKeys() const
{
    return privacy_.key.has_value() || privacy_.previous.has_value();
}

// ---- Send side ---------------------------------------------------------

bool VoicePrivacy::sendingSessionFor(std::uint32_t ssrc, std::optional<std::uint16_t> sequence)
{
    bool keep = sender_ && sender_->ssrc == ssrc;
    if (keep && sequence && sender_->lastSequence) {
        // Only an index that goes up, without a wrap, stays under the key.
        const std::uint16_t last = *sender_->lastSequence;
        keep = *sequence > last && *sequence - last < 0x8000;
    }
    if (keep)
        return true;
    const std::optional<SenderMki> mki = epochs_.next();
    if (!mki)
        return false;
    auto session = std::make_unique<SrtpSession>(SrtpSession::Direction::Send,
                                                 deriveSenderKey(*privacy_.key, sendScope_, ssrc, *mki), *mki);
    if (!session->valid())
        return false;
    sender_ = std::make_unique<Sender>();
    sender_->session = std::move(session);
    sender_->ssrc = ssrc;
    ++counts_.senderKeys;
    return true;
}

bool VoicePrivacy::protectRtp(unsigned char* packet, int& length, int capacity)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (privacy_.mode == ChannelPrivacy::Mode::Clear)
        return true;
    const int header = rtpHeaderLength(packet, length);
    // A packet with an extension of its own has no room for the marker.
    if (privacy_.mode == ChannelPrivacy::Mode::Unusable || header < 0 || (packet[0] & 0x10) != 0 ||
        length + kVoicePrivacyMostAdded > capacity) {
        ++counts_.sendRefused;
        if (refusedLog_.occurred())
            debug_log_printf_always("Voice packet not sent: %s\n",
                                    privacy_.mode == ChannelPrivacy::Mode::Unusable ? privacy_.problem.c_str()
                                                                                    : "not an RTP packet to encrypt");
        return false;
    }
    const std::uint16_t sequence = static_cast<std::uint16_t>((packet[2] << 8) | packet[3]);
    if (!sendingSessionFor(bigEndian32(packet + 8), sequence)) {
        ++counts_.sendRefused;
        if (refusedLog_.occurred())
            debug_log_printf_always("Voice packet not sent: no sender key could be made\n");
        return false;
    }
    std::memmove(packet + header + kMarkerLength, packet + header, static_cast<std::size_t>(length - header));
    std::memcpy(packet + header, kMarker, kMarkerLength);
    packet[0] |= 0x10;
    length += kMarkerLength;
    if (sender_->session->protectRtp(packet, length) != SrtpResult::Ok) {
        ++counts_.sendRefused;
        if (refusedLog_.occurred())
            debug_log_printf_always("Voice packet not sent: SRTP refused it\n");
        return false;
    }
    sender_->lastSequence = sequence;
    ++counts_.sentEncrypted;
    return true;
}

bool VoicePrivacy::protectRtcp(unsigned char* packet, int& length, int capacity)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (privacy_.mode == ChannelPrivacy::Mode::Clear)
        return true;
    if (privacy_.mode == ChannelPrivacy::Mode::Unusable || length < kRtcpSenderPart ||
        length + kSrtpMostAdded > capacity || !sendingSessionFor(bigEndian32(packet + 4), std::nullopt) ||
        sender_->session->protectRtcp(packet, length) != SrtpResult::Ok) {
        ++counts_.sendRefused;
        return false;
    }
    ++counts_.sentEncrypted;
    return true;
}

// ---- Receive side ------------------------------------------------------

VoicePrivacy::Verdict VoicePrivacy::unprotectRtp(unsigned char* packet, int& length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!isEncryptedVoicePacket(packet, length)) {
        if (privacy_.mode == ChannelPrivacy::Mode::Clear)
            return Verdict::Clear;
        return failed(counts_.clearRefused, clearLog_, "clear on an encrypted channel",
                      length >= kRtpFixedHeader ? bigEndian32(packet + 8) : 0);
    }
    const int header = rtpHeaderLength(packet, length);
    const std::uint32_t ssrc = bigEndian32(packet + 8);
    if (length < header + kMarkerLength + kMkiLength + kSrtpTagLength)
        return failed(counts_.malformed, malformedLog_, "too short", ssrc);
    if (!hasReceiveKeys()) {
        ++counts_.unreadable;
        return Verdict::Unreadable;
    }
    const Verdict verdict = unprotect(Kind::Rtp, packet, length, ssrc, trailingMki(packet, length));
    if (verdict == Verdict::Decrypted) {
        std::memmove(packet + header, packet + header + kMarkerLength,
                     static_cast<std::size_t>(length - header - kMarkerLength));
        length -= kMarkerLength;
        packet[0] &= static_cast<unsigned char>(~0x10);
    }
    return verdict;
}

VoicePrivacy::Verdict VoicePrivacy::unprotectRtcp(unsigned char* packet, int& length)
{
    std::lock_guard<std::mutex> lock(mutex_);
    // Clear channels read RTCP as it comes.
    if (privacy_.mode == ChannelPrivacy::Mode::Clear)
        return Verdict::Clear;
    const std::uint32_t ssrc = length >= kRtcpSenderPart ? bigEndian32(packet + 4) : 0;
    if (length < kRtcpSenderPart + kSrtcpIndexWord + kMkiLength + kSrtpTagLength)
        return failed(counts_.malformed, malformedLog_, "too short", ssrc);
    if (!hasReceiveKeys()) {
        ++counts_.unreadable;
        return Verdict::Dropped;
    }
    return unprotect(Kind::Rtcp, packet, length, ssrc, trailingMki(packet, length));
}

VoicePrivacy::Verdict VoicePrivacy::unprotect(Kind kind, unsigned char* packet, int& length, std::uint32_t ssrc,
                                              const SenderMki& mki)
{
    const auto known = talkers_.find(ssrc);
    if (known != talkers_.end() && known->second.session->mki() == mki) {
        SrtpSession& session = *known->second.session;
        const SrtpResult result =
            kind == Kind::Rtp ? session.unprotectRtp(packet, length) : session.unprotectRtcp(packet, length);
        switch (result) {
        case SrtpResult::Ok:
            known->second.lastHeard = ++receiveTick_;
            ++counts_.decrypted;
            return Verdict::Decrypted;
        case SrtpResult::Replayed: return failed(counts_.replays, replayLog_, "replayed", ssrc);
        case SrtpResult::AuthenticationFailed: break;
        case SrtpResult::Malformed: return failed(counts_.malformed, malformedLog_, "malformed", ssrc);
        }
        return failed(counts_.authenticationFailures, authenticationLog_, "failed authentication", ssrc);
    }
    if (known != talkers_.end() && senderKeyEpoch(mki) <= known->second.epoch)
        return failed(counts_.replays, replayLog_, "sent under an earlier key", ssrc);
    return tryNewSenderKey(kind, packet, length, ssrc, mki);
}

VoicePrivacy::Verdict VoicePrivacy::tryNewSenderKey(Kind kind, unsigned char* packet, int& length, std::uint32_t ssrc,
                                                    const SenderMki& mki)
{
    if (!mayTryAnotherKey())
        return failed(counts_.authenticationFailures, authenticationLog_, "failed authentication", ssrc);
    std::vector<unsigned char> trial(packet, packet + length);
    for (const std::optional<VoiceKey>* groupKey : {&privacy_.key, &privacy_.previous}) {
        if (!groupKey->has_value())
            continue;
        auto session = std::make_unique<SrtpSession>(SrtpSession::Direction::Receive,
                                                     deriveSenderKey(**groupKey, receiveScope_, ssrc, mki), mki);
        int trialLength = length;
        std::memcpy(trial.data(), packet, static_cast<std::size_t>(length));
        const SrtpResult result = !session->valid()         ? SrtpResult::Malformed
                                  : kind == Kind::Rtp ? session->unprotectRtp(trial.data(), trialLength)
                                                      : session->unprotectRtcp(trial.data(), trialLength);
        if (result == SrtpResult::Malformed)
            return failed(counts_.malformed, malformedLog_, "malformed", ssrc);
        if (result != SrtpResult::Ok)
            continue;
        std::memcpy(packet, trial.data(), static_cast<std::size_t>(trialLength));
        length = trialLength;
        if (talkers_.size() >= kMostTalkers && talkers_.find(ssrc) == talkers_.end()) {
            const auto quietest = std::min_element(talkers_.begin(), talkers_.end(), [](const auto& a, const auto& b) {
                return a.second.lastHeard < b.second.lastHeard;
            });
            talkers_.erase(quietest);
        }
        Talker& talker = talkers_[ssrc];
        talker.session = std::move(session);
        talker.epoch = senderKeyEpoch(mki);
        talker.lastHeard = ++receiveTick_;
        ++counts_.decrypted;
        return Verdict::Decrypted;
    }
    // Without the key a clear channel cannot read it: it is someone's
    // encrypted voice. On an encrypted channel it is a forgery.
    if (privacy_.mode != ChannelPrivacy::Mode::Encrypted) {
        ++counts_.unreadable;
        return Verdict::Unreadable;
    }
    return failed(counts_.authenticationFailures, authenticationLog_, "failed authentication", ssrc);
}

bool VoicePrivacy::mayTryAnotherKey()
{
    const std::int64_t now = monotonicSeconds();
    if (now != triesSecond_) {
        triesSecond_ = now;
        triesThisSecond_ = 0;
    }
    return ++triesThisSecond_ <= kMostKeyTriesPerSecond;
}

VoicePrivacy::Verdict VoicePrivacy::failed(std::atomic<std::uint64_t>& counter, debug_log_throttle_t& log,
                                           const char* what, std::uint32_t ssrc)
{
    ++counter;
    if (log.occurred())
        debug_log_printf_always("Dropped a voice packet from %08X: %s\n", ssrc, what);
    return Verdict::Dropped;
}

VoicePrivacyCounters VoicePrivacy::counters() const
{
    VoicePrivacyCounters c;
    c.sentEncrypted = counts_.sentEncrypted;
    c.sendRefused = counts_.sendRefused;
    c.senderKeys = counts_.senderKeys;
    c.decrypted = counts_.decrypted;
    c.authenticationFailures = counts_.authenticationFailures;
    c.replays = counts_.replays;
    c.clearRefused = counts_.clearRefused;
    c.unreadable = counts_.unreadable;
    c.malformed = counts_.malformed;
    return c;
}

std::optional<SenderMki> VoicePrivacy::sendingMki() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!sender_ || !sender_->session)
        return std::nullopt;
    return sender_->session->mki();
}
