// Location text and the bounded reading of received source descriptions.
#include "CallerIdentity.h"

#include "debug_log_stream.h"

#include <charconv>
#include <cstring>

namespace {

constexpr unsigned kRtcpSdes = 202;
constexpr unsigned kSdesEnd = 0;
constexpr unsigned kSdesCname = 1;
constexpr unsigned kSdesName = 2;
constexpr unsigned kSdesLoc = 5;

std::string fixedSix(double value)
{
    char text[64];
    const auto result = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, 6);
    return std::string(text, result.ptr);
}

// The leading decimal number of the text; 0 when there is none.
double leadingNumber(const char* begin, const char* end)
{
    while (begin < end && (*begin == ' ' || *begin == '\t'))
        ++begin;
    if (begin < end && *begin == '+')
        ++begin;
    double value = 0.0;
    std::from_chars(begin, end, value, std::chars_format::fixed);
    return value;
}

void applyLocation(RadioContact& contact, const std::string& text)
{
    debug_log_cout("DEBUG_CALLER_ID_LOCATION") << "Parsing incoming callerID location: " << text << "\n";
    const std::size_t comma = text.find(',');
    if (comma == std::string::npos)
        return;
    location_t location;
    location.latitude = leadingNumber(text.data(), text.data() + comma);
    location.longitude = leadingNumber(text.data() + comma + 1, text.data() + text.size());
    location.fix = 0;
    location.valid = true;
    contact.setLocation(location);
}

void applyItem(RadioContact& contact, unsigned type, const std::string& text)
{
    if (type == kSdesCname)
        contact.setId(text.c_str());
    else if (type == kSdesName)
        contact.setName(text);
    else if (type == kSdesLoc)
        applyLocation(contact, text);
}

std::size_t packetSize(const unsigned char* header)
{
    return (static_cast<std::size_t>(header[2]) << 8 | header[3]) * 4u + 4u;
}

// Walks the chunks of one SDES packet, [p, end); stops at the first item
// that does not fit.
void readSdesChunks(const unsigned char* p, const unsigned char* end, unsigned chunkCount, RadioContact& contact)
{
    for (unsigned chunk = 0; chunk < chunkCount; ++chunk) {
        const unsigned char* const chunkStart = p;
        if (end - p < 4)
            return;
        p += 4; // SSRC or CSRC of the chunk
        while (p < end && *p != kSdesEnd) {
            if (end - p < 2 || end - p - 2 < p[1])
                return;
            const char* text = reinterpret_cast<const char*>(p) + 2;
            applyItem(contact, p[0], std::string(text, strnlen(text, p[1])));
            p += 2 + p[1];
        }
        if (p >= end)
            return;
        ++p; // the end item
        p += (4 - (p - chunkStart) % 4) % 4;
    }
}

} // namespace

std::string formatLocationText(double latitude, double longitude)
{
    std::string text = fixedSix(latitude);
    text += latitude >= 0 ? 'N' : 'S';
    text += ',';
    text += fixedSix(longitude);
    text += longitude >= 0 ? 'E' : 'W';
    return text.substr(0, 24);
}

std::optional<RadioContact> callerIdentityFromRtcp(const unsigned char* message, std::size_t length)
{
    if (message == nullptr || length < 4)
        return std::nullopt;
    const std::size_t firstSize = packetSize(message);
    if (firstSize + 4 > length)
        return std::nullopt;
    const unsigned char* second = message + firstSize;
    if (second[1] != kRtcpSdes)
        return std::nullopt;
    const unsigned char* end = message + length;
    const std::size_t secondSize = packetSize(second);
    if (secondSize < static_cast<std::size_t>(end - second))
        end = second + secondSize;
    RadioContact contact;
    readSdesChunks(second + 4, end, second[0] & 0x1Fu, contact);
    return contact;
}
