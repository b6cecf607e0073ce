// Parsing and writing the crypto attribute texts of voice keys.
#include "VoiceKey.h"

#include <sodium.h>

#include <cctype>
#include <cstring>
#include <mutex>
#include <stdexcept>

namespace {

const char* const kInlinePrefix = "inline:";

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end && std::isspace(static_cast<unsigned char>(text[begin])))
        ++begin;
    while (end > begin && std::isspace(static_cast<unsigned char>(text[end - 1])))
        --end;
    return text.substr(begin, end - begin);
}

void initSodium()
{
    static std::once_flag once;
    std::call_once(once, [] {
        if (sodium_init() < 0)
            throw std::runtime_error("libsodium cannot be initialised");
    });
}

VoiceKeyText problem(const std::string& why)
{
    return VoiceKeyText{std::nullopt, why};
}

} // namespace

VoiceKeyText parseCryptoAttribute(const std::string& text)
{
    const std::string value = trimmed(text);
    const std::size_t blank = value.find_first_of(" \t");
    if (blank == std::string::npos)
        return problem("no key after the suite");
    const std::string suite = value.substr(0, blank);
    if (suite != kVoiceSuiteName)
        return problem("unsupported suite " + suite);
    const std::string keyParameters = trimmed(value.substr(blank));
    if (keyParameters.find_first_of(" \t") != std::string::npos)
        return problem("unsupported session parameters");
    if (keyParameters.compare(0, std::strlen(kInlinePrefix), kInlinePrefix) != 0)
        return problem("the key is not given inline");
    const std::string keyText = keyParameters.substr(std::strlen(kInlinePrefix));
    // Lifetime and MKI parameters follow the key after '|'; radios choose
    // their own key identifiers, and each sender's key lives far shorter
    // than any lifetime.
    if (keyText.find('|') != std::string::npos)
        return problem("unsupported key parameters");
    initSodium();
    unsigned char decoded[kVoiceKeyMaterialLength + 3];
    std::size_t length = 0;
    const char* end = nullptr;
    if (sodium_base642bin(decoded, sizeof decoded, keyText.data(), keyText.size(), nullptr, &length, &end,
                          sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != keyText.data() + keyText.size())
        return problem("the key is not valid base64");
    if (length != kVoiceKeyMaterialLength)
        return problem("the key and salt are " + std::to_string(length) + " bytes instead of " +
                       std::to_string(kVoiceKeyMaterialLength));
    VoiceKey key;
    std::memcpy(key.material.data(), decoded, kVoiceKeyMaterialLength);
    sodium_memzero(decoded, sizeof decoded);
    return VoiceKeyText{key, std::string()};
}

std::string cryptoAttributeText(const VoiceKey& key)
{
    initSodium();
    char encoded[sodium_base64_ENCODED_LEN(kVoiceKeyMaterialLength, sodium_base64_VARIANT_ORIGINAL)];
    sodium_bin2base64(encoded, sizeof encoded, key.material.data(), key.material.size(),
                      sodium_base64_VARIANT_ORIGINAL);
    return std::string(kVoiceSuiteName) + " " + kInlinePrefix + encoded;
}

VoiceKey randomVoiceKey()
{
    initSodium();
    VoiceKey key;
    randombytes_buf(key.material.data(), key.material.size());
    return key;
}

ChannelPrivacy readChannelPrivacy(const std::string& crypto, const std::string& previous)
{
    ChannelPrivacy privacy;
    if (!trimmed(previous).empty()) {
        VoiceKeyText old = parseCryptoAttribute(previous);
        if (old.key)
            privacy.previous = old.key;
        else
            privacy.problem = "previous key ignored: " + old.problem;
    }
    if (trimmed(crypto).empty())
        return privacy;
    VoiceKeyText current = parseCryptoAttribute(crypto);
    if (!current.key) {
        privacy.mode = ChannelPrivacy::Mode::Unusable;
        privacy.problem = current.problem;
        return privacy;
    }
    privacy.mode = ChannelPrivacy::Mode::Encrypted;
    privacy.key = current.key;
    return privacy;
}
