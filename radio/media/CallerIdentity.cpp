// Location text and the bounded reading of received source descriptions.
#include "CallerIdentity.h"

#include "TextEncoding.h"
#include "debug_log_stream.h"

#include <charconv>
#include <cstring>

namespace {

constexpr unsigned kRtcpSdes = 202;
constexpr unsigned kSdesEnd = 0;
constexpr unsigned kSdesCname = 1;
constexpr unsigned kSdesName = 2;
constexpr unsigned kSdesLoc = 5;

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

// What the items read so far say, and the SSRC of the chunk that gave the
// CNAME.
struct Described
{
    RadioContact contact;
    device_id_t cnameChunkSsrc = 0;
};

device_id_t chunkSsrc(const unsigned char* chunk)
{
    return (device_id_t(chunk[0]) << 24) | (device_id_t(chunk[1]) << 16) | (device_id_t(chunk[2]) << 8) |
           device_id_t(chunk[3]);
}

void applyItem(Described& described, device_id_t ssrc, unsigned type, const std::string& text)
{
    RadioContact& contact = described.contact;
    if (type == kSdesCname) {
        contact.setId(text.c_str());
        described.cnameChunkSsrc = ssrc;
    }
    else if (type == kSdesName)
        contact.setName(utf8FromUtf8OrLatin1(text));
    else if (type == kSdesLoc)
        applyLocation(contact, text);
}

std::size_t packetSize(const unsigned char* header)
{
    return (static_cast<std::size_t>(header[2]) << 8 | header[3]) * 4u + 4u;
}

// Walks the chunks of one SDES packet, [p, end); stops at the first item
// that does not fit.
void readSdesChunks(const unsigned char* p, const unsigned char* end, unsigned chunkCount, Described& described)
{
    for (unsigned chunk = 0; chunk < chunkCount; ++chunk) {
        const unsigned char* const chunkStart = p;
        if (end - p < 4)
            return;
        const device_id_t ssrc = chunkSsrc(p);
        p += 4; // SSRC or CSRC of the chunk
        while (p < end && *p != kSdesEnd) {
            if (end - p < 2 || end - p - 2 < p[1])
                return;
            const char* text = reinterpret_cast<const char*>(p) + 2;
            applyItem(described, ssrc, p[0], std::string(text, strnlen(text, p[1])));
            p += 2 + p[1];
        }
        if (p >= end)
            return;
        ++p; // the end item
        p += (4 - (p - chunkStart) % 4) % 4;
    }
}

std::optional<Described> describedSource(const unsigned char* message, std::size_t length)
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
    Described described;
    readSdesChunks(second + 4, end, second[0] & 0x1Fu, described);
    return described;
}

} // namespace

std::optional<RadioContact> callerIdentityFromRtcp(const unsigned char* message, std::size_t length)
{
    if (const auto described = describedSource(message, length))
        return described->contact;
    return std::nullopt;
}

std::optional<RadioContact> trustedCallerIdentity(const unsigned char* message, std::size_t length)
{
    const auto described = describedSource(message, length);
    if (!described || described->contact.id() == 0 || described->contact.id() != described->cnameChunkSsrc)
        return std::nullopt;
    return described->contact;
}
