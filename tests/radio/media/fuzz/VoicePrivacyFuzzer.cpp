// libFuzzer target for the receive side of voice privacy: datagrams from
// anyone on a channel, read as SRTP and SRTCP by a radio with the key and as
// RTP by one without it. Besides memory errors it checks that nothing made
// up is ever taken as authentic, and that what is taken never grows.
#include "VoicePrivacy.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace {

void Require(bool condition)
{
    if (!condition)
        __builtin_trap();
}

constexpr VoiceScope kGroup = 0xE1400505;
constexpr std::uint32_t kTalker = 0x00B0B0B0;

VoiceKey GroupKey()
{
    VoiceKey key;
    for (std::size_t i = 0; i < key.material.size(); ++i)
        key.material[i] = static_cast<unsigned char>(i * 7 + 1);
    return key;
}

ChannelPrivacy Encrypted()
{
    ChannelPrivacy privacy;
    privacy.mode = ChannelPrivacy::Mode::Encrypted;
    privacy.key = GroupKey();
    return privacy;
}

struct Radios
{
    Radios()
    {
        talker.configure(Encrypted(), kGroup, kGroup);
        listener.configure(Encrypted(), kGroup, kGroup);
        withoutKey.configure(ChannelPrivacy(), kGroup, kGroup);
        // One authentic packet that the mutations start from; the listener
        // knows its sender key, so mutated packets reach the SRTP checks.
        std::vector<unsigned char> voice(12 + 40, 0x55);
        voice[0] = 0x80;
        voice[3] = 1;
        voice[8] = kTalker >> 24;
        voice[9] = (kTalker >> 16) & 0xFF;
        voice[10] = (kTalker >> 8) & 0xFF;
        voice[11] = kTalker & 0xFF;
        int length = static_cast<int>(voice.size());
        voice.resize(voice.size() + kVoicePrivacyMostAdded);
        Require(talker.protectRtp(voice.data(), length, static_cast<int>(voice.size())));
        voice.resize(static_cast<std::size_t>(length));
        genuine = voice;
        std::vector<unsigned char> copy = genuine;
        Require(listener.unprotectRtp(copy.data(), length) == VoicePrivacy::Verdict::Decrypted);
    }
    VoicePrivacy talker, listener, withoutKey;
    std::vector<unsigned char> genuine;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static Radios radios;
    if (size < 1 || size > 2000)
        return 0;
    const std::uint8_t how = data[0] % 4;
    std::vector<unsigned char> packet(data + 1, data + size);
    if (how == 2) {
        // The input flips bits of the authentic packet (a repeat of it is a
        // replay): nothing of that kind may pass.
        std::vector<unsigned char> mutated = radios.genuine;
        for (std::size_t i = 0; i < packet.size(); ++i)
            mutated[i % mutated.size()] ^= packet[i];
        packet = mutated;
    }
    int length = static_cast<int>(packet.size());
    const int before = length;
    VoicePrivacy::Verdict verdict;
    switch (how) {
    case 1: verdict = radios.listener.unprotectRtcp(packet.data(), length); break;
    case 3: verdict = radios.withoutKey.unprotectRtp(packet.data(), length); break;
    default: verdict = radios.listener.unprotectRtp(packet.data(), length); break;
    }
    Require(length <= before);
    // Made-up or altered datagrams never authenticate on the encrypted channel.
    if (how != 3)
        Require(verdict != VoicePrivacy::Verdict::Decrypted && verdict != VoicePrivacy::Verdict::Clear);
    else
        Require(verdict != VoicePrivacy::Verdict::Decrypted);
    return 0;
}
