// Voice privacy without sockets: the crypto attribute texts, and SRTP between
// a sending and a receiving stream's protection: what is taken, what is
// dropped and counted, late entry, sequence wrap, restarts and rotation.
#include "SenderKeys.h"
#include "VoiceKey.h"
#include "VoicePrivacy.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using Mode = ChannelPrivacy::Mode;
using Verdict = VoicePrivacy::Verdict;

const std::string kKeyText = "AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd";
const VoiceScope kGroup = 0xE1400505;  // 225.64.5.5
const VoiceScope kOtherGroup = 0xE1400506;
const std::uint32_t kTalker = 0x00B0B0B0;

VoiceKey keyOf(const std::string& text)
{
    return *parseCryptoAttribute(text).key;
}

ChannelPrivacy encrypted(const VoiceKey& key, std::optional<VoiceKey> previous = std::nullopt)
{
    ChannelPrivacy privacy;
    privacy.mode = Mode::Encrypted;
    privacy.key = key;
    privacy.previous = previous;
    return privacy;
}

using Packet = std::vector<unsigned char>;

// A PCMU voice packet with room for what encryption adds.
Packet voicePacket(std::uint32_t ssrc, std::uint16_t sequence, unsigned char fill = 0x55)
{
    Packet packet(12 + 160, fill);
    const unsigned char header[12] = {0x80,
                                      0x00,
                                      static_cast<unsigned char>(sequence >> 8),
                                      static_cast<unsigned char>(sequence),
                                      0,
                                      0,
                                      static_cast<unsigned char>(sequence >> 4),
                                      static_cast<unsigned char>(sequence << 4),
                                      static_cast<unsigned char>(ssrc >> 24),
                                      static_cast<unsigned char>(ssrc >> 16),
                                      static_cast<unsigned char>(ssrc >> 8),
                                      static_cast<unsigned char>(ssrc)};
    std::memcpy(packet.data(), header, sizeof header);
    return packet;
}

// An empty receiver report with the sender's SSRC.
Packet receiverReport(std::uint32_t ssrc)
{
    return Packet{0x80, 201, 0, 1, static_cast<unsigned char>(ssrc >> 24), static_cast<unsigned char>(ssrc >> 16),
                  static_cast<unsigned char>(ssrc >> 8), static_cast<unsigned char>(ssrc)};
}

// Protects a copy; empty when it may not be sent.
Packet sent(VoicePrivacy& sender, Packet packet, bool rtcp = false)
{
    int length = static_cast<int>(packet.size());
    packet.resize(packet.size() + kVoicePrivacyMostAdded);
    const bool ok = rtcp ? sender.protectRtcp(packet.data(), length, static_cast<int>(packet.size()))
                         : sender.protectRtp(packet.data(), length, static_cast<int>(packet.size()));
    if (!ok)
        return {};
    packet.resize(static_cast<std::size_t>(length));
    return packet;
}

std::pair<Verdict, Packet> received(VoicePrivacy& receiver, Packet packet, bool rtcp = false)
{
    int length = static_cast<int>(packet.size());
    const Verdict verdict =
        rtcp ? receiver.unprotectRtcp(packet.data(), length) : receiver.unprotectRtp(packet.data(), length);
    packet.resize(static_cast<std::size_t>(std::max(length, 0)));
    return {verdict, packet};
}

SenderMki mkiOf(const Packet& wire)
{
    SenderMki mki;
    std::memcpy(mki.data(), wire.data() + wire.size() - 10 - mki.size(), mki.size());
    return mki;
}

std::uint64_t failures(const VoicePrivacyCounters& c)
{
    return c.authenticationFailures + c.replays + c.clearRefused + c.malformed;
}

std::uint16_t sequenceOf(const Packet& wire)
{
    return static_cast<std::uint16_t>((wire[2] << 8) | wire[3]);
}

TEST(VoiceKeys, CryptoAttributesAreReadOrRefusedWithAReason)
{
    const struct
    {
        std::string text;
        bool accepted;
        const char* problem;
    } cases[] = {
        {kKeyText, true, ""},
        {"  " + kKeyText + " \n", true, ""},
        {"AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBka", false, "27 bytes instead of 30"},
        {"AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdYWJj", false,
         "33 bytes instead of 30"},
        {"AES_CM_128_HMAC_SHA1_32 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd", false,
         "unsupported suite AES_CM_128_HMAC_SHA1_32"},
        {"F8_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd", false, "unsupported suite"},
        {kKeyText + "|2^20|1:4", false, "unsupported key parameters"},
        {kKeyText + " UNENCRYPTED_SRTP", false, "unsupported session parameters"},
        {"AES_CM_128_HMAC_SHA1_80 inline:AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBka!xwd", false, "not valid base64"},
        {"AES_CM_128_HMAC_SHA1_80 AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwd", false, "not given inline"},
        {"AES_CM_128_HMAC_SHA1_80", false, "no key"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const VoiceKeyText parsed = parseCryptoAttribute(c.text);
        EXPECT_EQ(parsed.key.has_value(), c.accepted);
        EXPECT_NE(parsed.problem.find(c.problem), std::string::npos) << parsed.problem;
    }
    const VoiceKey fresh = randomVoiceKey();
    EXPECT_EQ(parseCryptoAttribute(cryptoAttributeText(fresh)).key, fresh) << "the service's texts read back";
    EXPECT_NE(randomVoiceKey(), fresh);

    const struct
    {
        const char* crypto;
        const char* previous;
        Mode mode;
        bool key;
        bool previousKey;
    } channels[] = {
        {"", "", Mode::Clear, false, false},
        {kKeyText.c_str(), "", Mode::Encrypted, true, false},
        {kKeyText.c_str(), kKeyText.c_str(), Mode::Encrypted, true, true},
        {"AES_256_CM_HMAC_SHA1_80 inline:AAAA", "", Mode::Unusable, false, false},
        {"AES_256_CM_HMAC_SHA1_80 inline:AAAA", kKeyText.c_str(), Mode::Unusable, false, true},
        {"", kKeyText.c_str(), Mode::Clear, false, true},
        {kKeyText.c_str(), "garbage", Mode::Encrypted, true, false},
    };
    for (const auto& c : channels) {
        SCOPED_TRACE(std::string(c.crypto) + " / " + c.previous);
        const ChannelPrivacy privacy = readChannelPrivacy(c.crypto, c.previous);
        EXPECT_EQ(privacy.mode, c.mode);
        EXPECT_EQ(privacy.key.has_value(), c.key);
        EXPECT_EQ(privacy.previous.has_value(), c.previousKey);
        EXPECT_EQ(privacy.problem.empty(), c.mode != Mode::Unusable && std::string(c.previous) != "garbage");
    }
}

// A talker and a listener on one encrypted group; the listener has taken
// the talker's first packet.
class VoicePrivacyTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        talker.configure(encrypted(key), kGroup, kGroup);
        listener.configure(encrypted(key), kGroup, kGroup);
        const auto [verdict, clear] = received(listener, sent(talker, voicePacket(kTalker, 100)));
        ASSERT_EQ(verdict, Verdict::Decrypted);
        ASSERT_EQ(clear, voicePacket(kTalker, 100));
    }

    const VoiceKey key = keyOf(kKeyText);
    VoicePrivacy talker;
    VoicePrivacy listener;
};

TEST_F(VoicePrivacyTest, OnlyAuthenticPacketsAreTakenEachOnceAndEveryOtherIsDroppedAndCounted)
{
    const Packet genuine = sent(talker, voicePacket(kTalker, 101, 0x11));
    ASSERT_FALSE(genuine.empty());
    EXPECT_EQ(std::string(genuine.begin() + 16, genuine.begin() + 32).find(std::string(16, '\x11')),
              std::string::npos)
        << "the payload is not on the wire in clear";

    VoicePrivacy stranger;
    stranger.configure(encrypted(randomVoiceKey()), kGroup, kGroup);
    VoicePrivacy otherGroup;
    otherGroup.configure(encrypted(key), kOtherGroup, kOtherGroup);
    auto flipped = [&](std::size_t at) {
        Packet p = genuine;
        p[at < p.size() ? at : p.size() - 1 - (at - p.size())] ^= 0x01;
        return p;
    };
    auto truncated = [&](std::size_t length) { return Packet(genuine.begin(), genuine.begin() + length); };
    using Counter = std::uint64_t VoicePrivacyCounters::*;
    const struct
    {
        const char* name;
        Packet packet;
        Counter counter;
    } bad[] = {
        {"payload bit flipped", flipped(40), &VoicePrivacyCounters::authenticationFailures},
        {"header bit flipped", flipped(5), &VoicePrivacyCounters::authenticationFailures},
        {"marker flipped", flipped(13), &VoicePrivacyCounters::clearRefused},
        {"tag bit flipped", flipped(genuine.size() + 1), &VoicePrivacyCounters::authenticationFailures},
        {"key identifier flipped", flipped(genuine.size() + 12), &VoicePrivacyCounters::replays},
        {"tag cut off", truncated(genuine.size() - 10), nullptr},
        {"last byte cut off", truncated(genuine.size() - 1), nullptr},
        {"only the header", truncated(16), &VoicePrivacyCounters::malformed},
        {"half a header", truncated(7), &VoicePrivacyCounters::clearRefused},
        {"another key", sent(stranger, voicePacket(kTalker, 102)), &VoicePrivacyCounters::authenticationFailures},
        {"recorded on another group", sent(otherGroup, voicePacket(kTalker, 102)),
         &VoicePrivacyCounters::authenticationFailures},
        {"clear voice", voicePacket(kTalker, 102), &VoicePrivacyCounters::clearRefused},
    };
    for (const auto& c : bad) {
        SCOPED_TRACE(c.name);
        const VoicePrivacyCounters before = listener.counters();
        EXPECT_EQ(received(listener, c.packet).first, Verdict::Dropped);
        const VoicePrivacyCounters after = listener.counters();
        if (c.counter) {
            EXPECT_EQ(after.*c.counter, before.*c.counter + 1);
        }
        EXPECT_EQ(failures(after), failures(before) + 1);
        EXPECT_EQ(after.decrypted, before.decrypted);
    }
    EXPECT_EQ(received(listener, genuine).first, Verdict::Decrypted) << "none of them disturbed the talker";
    EXPECT_EQ(received(listener, genuine).first, Verdict::Dropped) << "a second copy (multicast and relay)";
    EXPECT_GE(listener.counters().replays, 2u);
    EXPECT_EQ(received(listener, sent(talker, voicePacket(kTalker, 103))).first, Verdict::Decrypted);
}

TEST_F(VoicePrivacyTest, ControlPacketsAreProtectedLikeVoice)
{
    const Packet report = sent(talker, receiverReport(kTalker), true);
    ASSERT_FALSE(report.empty());
    EXPECT_EQ(mkiOf(report), *talker.sendingMki()) << "the talker's current key";
    const auto [verdict, clear] = received(listener, report, true);
    EXPECT_EQ(verdict, Verdict::Decrypted);
    EXPECT_EQ(clear, receiverReport(kTalker));
    EXPECT_EQ(received(listener, report, true).first, Verdict::Dropped) << "replayed";
    EXPECT_EQ(received(listener, receiverReport(kTalker), true).first, Verdict::Dropped)
        << "a clear caller identity is not believed on an encrypted channel";
    VoicePrivacy clearListener;
    EXPECT_EQ(received(clearListener, receiverReport(kTalker), true).first, Verdict::Clear);
}

TEST_F(VoicePrivacyTest, ALateListenerTakesTheNextPacketAndTheKeyChangesBeforeTheSequenceWraps)
{
    std::vector<Packet> wire;
    for (std::uint32_t n = 65530; n < 65530 + 12; ++n)
        wire.push_back(sent(talker, voicePacket(kTalker, static_cast<std::uint16_t>(n))));
    VoicePrivacy late;
    late.configure(encrypted(key), kGroup, kGroup);
    std::set<std::pair<SenderMki, std::uint16_t>> used;
    for (std::size_t i = 0; i < wire.size(); ++i) {
        SCOPED_TRACE(i);
        ASSERT_FALSE(wire[i].empty());
        EXPECT_TRUE(used.insert({mkiOf(wire[i]), sequenceOf(wire[i])}).second);
        EXPECT_EQ(received(listener, wire[i]).first, Verdict::Decrypted);
        if (i >= 3) {
            EXPECT_EQ(received(late, wire[i]).first, Verdict::Decrypted);
        }
    }
    EXPECT_NE(mkiOf(wire[5]), mkiOf(wire[6])) << "sequence 65535, then 0 under a new key";
    EXPECT_GT(senderKeyEpoch(mkiOf(wire[6])), senderKeyEpoch(mkiOf(wire[5])));
    EXPECT_EQ(received(listener, wire[5]).first, Verdict::Dropped) << "the old key's packets are over";
    // A sequence that goes back (the session was reset) takes a new key too.
    const Packet reset = sent(talker, voicePacket(kTalker, 2));
    EXPECT_NE(mkiOf(reset), mkiOf(wire.back()));
    EXPECT_EQ(received(listener, reset).first, Verdict::Decrypted);
}

TEST(VoicePrivacyRestarts, ARadioRestartingManyTimesNeverSendsTwoPacketsUnderOneKeyAndIndex)
{
    const VoiceKey key = keyOf(kKeyText);
    std::optional<std::uint64_t> stored;
    const SenderEpochs::StampStore store{[&] { return stored; }, [&](std::uint64_t stamp) { stored = stamp; }};
    VoicePrivacy listener;
    listener.configure(encrypted(key), kGroup, kGroup);
    std::set<std::pair<std::array<unsigned char, kVoiceKeyMaterialLength>, std::uint16_t>> keysAndIndexes;
    // The clock stands still, then goes back an hour: the stored stamp
    // still moves every start on.
    const std::uint64_t clocks[] = {1700000000000, 1700000000000, 1700000000000, 1699996400000};
    for (int start = 0; start < 40; ++start) {
        SCOPED_TRACE(start);
        SenderEpochs epochs;
        const std::uint64_t now = clocks[std::min(start, 3)];
        epochs.start(store, [now] { return now; });
        VoicePrivacy talker(epochs);
        talker.configure(encrypted(key), kGroup, kGroup);
        // Every start sends the same sequence numbers with the same SSRC.
        for (std::uint16_t sequence = 1000; sequence < 1010; ++sequence) {
            const Packet wire = sent(talker, voicePacket(kTalker, sequence));
            ASSERT_FALSE(wire.empty());
            const VoiceKey used = deriveSenderKey(key, kGroup, kTalker, mkiOf(wire));
            EXPECT_TRUE(keysAndIndexes.insert({used.material, sequenceOf(wire)}).second);
            EXPECT_EQ(received(listener, wire).first, Verdict::Decrypted) << "the restarted radio is heard";
        }
    }
    EXPECT_EQ(keysAndIndexes.size(), 400u);
}

TEST(VoicePrivacyRotation, TheNewKeyIsSentWhileThePreviousIsStillHeardAndAClearChannelShowsEncryptedVoice)
{
    const VoiceKey oldKey = randomVoiceKey();
    const VoiceKey newKey = randomVoiceKey();
    VoicePrivacy notRestarted, restarted, clearRadio, unusable;
    notRestarted.configure(encrypted(oldKey), kGroup, kGroup);
    restarted.configure(encrypted(newKey, oldKey), kGroup, kGroup);
    clearRadio.configure(ChannelPrivacy{}, kGroup, kGroup);
    unusable.configure(readChannelPrivacy("AES_CM_128_HMAC_SHA1_80 inline:AAAA", ""), kGroup, kGroup);

    EXPECT_EQ(received(restarted, sent(notRestarted, voicePacket(kTalker, 1))).first, Verdict::Decrypted);
    const Packet fromRestarted = sent(restarted, voicePacket(0x00C0C0C0, 1));
    EXPECT_EQ(received(notRestarted, fromRestarted).first, Verdict::Dropped) << "heard once it has restarted";
    EXPECT_EQ(received(clearRadio, fromRestarted).first, Verdict::Unreadable);
    EXPECT_EQ(received(clearRadio, voicePacket(0x00C0C0C0, 2)).first, Verdict::Clear);
    EXPECT_EQ(received(unusable, fromRestarted).first, Verdict::Unreadable);
    EXPECT_EQ(received(unusable, voicePacket(0x00C0C0C0, 2)).first, Verdict::Dropped);
    EXPECT_TRUE(sent(unusable, voicePacket(0x00D0D0D0, 1)).empty()) << "nothing is sent on an unusable key";
    EXPECT_TRUE(sent(unusable, receiverReport(0x00D0D0D0), true).empty());
    EXPECT_EQ(unusable.counters().sendRefused, 2u);
    EXPECT_EQ(sent(clearRadio, voicePacket(0x00D0D0D0, 1)), voicePacket(0x00D0D0D0, 1)) << "clear stays clear";
}

} // namespace
