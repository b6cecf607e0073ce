// Voice keys as the settings document carries them: the suite and key
// parameters of an SDP crypto attribute, for example
// "AES_CM_128_HMAC_SHA1_80 inline:<base64 of 16-byte master key and 14-byte
// master salt>", and what a channel's pair of attributes ("crypto" and
// "crypto_previous") make of its voice: clear, encrypted, or unusable
// because its key cannot be used (the channel then never transmits).
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

// The one suite radios use: AES-128 in counter mode with HMAC-SHA1 tags of
// 80 bits, with a 16-byte master key and a 14-byte master salt.
constexpr const char* kVoiceSuiteName = "AES_CM_128_HMAC_SHA1_80";
constexpr std::size_t kVoiceMasterKeyLength = 16;
constexpr std::size_t kVoiceMasterSaltLength = 14;
constexpr std::size_t kVoiceKeyMaterialLength = kVoiceMasterKeyLength + kVoiceMasterSaltLength;

struct VoiceKey
{
    // Master key followed by master salt.
    std::array<unsigned char, kVoiceKeyMaterialLength> material{};

    bool operator==(const VoiceKey& other) const { return material == other.material; }
    bool operator!=(const VoiceKey& other) const { return !(*this == other); }
};

// A parsed attribute: a key, or why there is none.
struct VoiceKeyText
{
    std::optional<VoiceKey> key;
    std::string problem;
};

// Reads "<suite> inline:<base64>"; blanks around the value are ignored.
// Anything else (another suite, a key of another length, lifetime or MKI
// parameters, session parameters) gives a problem text for the operator.
VoiceKeyText parseCryptoAttribute(const std::string& text);

// The attribute text of a key, as the management service writes it.
std::string cryptoAttributeText(const VoiceKey& key);

// A new key from the operating system's cryptographic random source.
VoiceKey randomVoiceKey();

// What one channel (or individual calls) does with voice.
struct ChannelPrivacy
{
    enum class Mode
    {
        Clear,      // no key: voice as it always was
        Encrypted,  // sent and heard only encrypted under the key
        Unusable,   // a key was meant but cannot be used: nothing is sent
    };
    Mode mode = Mode::Clear;
    std::optional<VoiceKey> key;
    // The key the service replaced, still heard for a while after a
    // rotation so that radios that have not restarted yet are understood.
    std::optional<VoiceKey> previous;
    // Why an unusable channel cannot be used; notes on an ignored previous
    // key otherwise.
    std::string problem;

    bool operator==(const ChannelPrivacy& other) const
    {
        return mode == other.mode && key == other.key && previous == other.previous && problem == other.problem;
    }
    bool operator!=(const ChannelPrivacy& other) const { return !(*this == other); }
};

// The privacy a channel's two attribute texts ask for. No "crypto" text
// means clear voice (a "crypto_previous" text is still heard); a "crypto"
// text that does not parse makes the channel unusable. A previous key that
// does not parse is left out, with a note in problem.
ChannelPrivacy readChannelPrivacy(const std::string& crypto, const std::string& previous);
