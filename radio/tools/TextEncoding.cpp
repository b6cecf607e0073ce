// UTF-8 validation and the Latin-1 fallback for names from peers.
#include "TextEncoding.h"

namespace {

bool isContinuation(unsigned char byte)
{
    return (byte & 0xC0u) == 0x80u;
}

// The length of the well-formed sequence at [at, end), or 0.
std::size_t sequenceLength(const unsigned char* at, const unsigned char* end)
{
    const unsigned char lead = at[0];
    if (lead < 0x80)
        return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF; // the range of the second byte
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        if (lead == 0xE0)
            low = 0xA0; // no overlong forms
        if (lead == 0xED)
            high = 0x9F; // no surrogates
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        if (lead == 0xF0)
            low = 0x90;
        if (lead == 0xF4)
            high = 0x8F; // nothing above U+10FFFF
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - at) < length || at[1] < low || at[1] > high)
        return 0;
    for (std::size_t i = 2; i < length; ++i)
        if (!isContinuation(at[i]))
            return 0;
    return length;
}

} // namespace

bool isValidUtf8(const std::string& bytes)
{
    const auto* at = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* end = at + bytes.size();
    while (at < end) {
        const std::size_t length = sequenceLength(at, end);
        if (length == 0)
            return false;
        at += length;
    }
    return true;
}

std::string utf8FromUtf8OrLatin1(const std::string& bytes)
{
    if (isValidUtf8(bytes))
        return bytes;
    std::string text;
    text.reserve(bytes.size() * 2);
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            text += c;
        } else {
            text += static_cast<char>(0xC0 | (byte >> 6));
            text += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return text;
}
