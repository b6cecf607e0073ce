// Dotted-quad parsing and formatting of IPv4 addresses, with a strict form
// (exactly four decimal numbers) and the loose inet_aton-style form.
#include "halvane2.h"

#include <arpa/inet.h>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace Halvane {

namespace {

constexpr int kMaxParts = 4;

// Value of the digit c in the given base: -1 when c is no digit at all,
// base or more when it is a decimal digit that the base does not allow.
int DigitValue(char c, unsigned int base)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (base == 16 && std::isxdigit(static_cast<unsigned char>(c)))
        return std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    return -1;
}

// Reads one number at `at` and moves past it. The strict form takes only
// decimal; "09" reads as decimal 9 since 9 cannot start an octal number.
bool ReadNumber(const char*& at, bool strict, std::uint32_t& value)
{
    const char* p = at;
    unsigned int base = 10;
    if (p[0] == '0' && (p[1] == 'x' || p[1] == 'X')) {
        base = 16;
        p += 2;
    } else if (p[0] == '0' && p[1] >= '0' && p[1] <= '8') {
        base = 8;
        p += 1;
    }
    if (strict && base != 10)
        return false;
    std::uint64_t number = 0;
    int digits = 0;
    for (int digit; (digit = DigitValue(*p, base)) >= 0; ++p, ++digits) {
        if (static_cast<unsigned int>(digit) >= base)
            return false;
        number = number * base + static_cast<unsigned int>(digit);
        if (number > 0xFFFFFFFFu)
            return false;
    }
    if (digits == 0)
        return false;
    at = p;
    value = static_cast<std::uint32_t>(number);
    return true;
}

// Splits the text into up to four numbers; false on anything malformed.
bool ReadParts(const char* text, bool strict, std::uint32_t (&parts)[kMaxParts], int& count)
{
    const char* at = text;
    count = 0;
    for (;;) {
        if (count == kMaxParts || !ReadNumber(at, strict, parts[count]))
            return false;
        ++count;
        if (*at == '.') {
            ++at;
            continue;
        }
        return *at == '\0' || std::isspace(static_cast<unsigned char>(*at));
    }
}

// Combines the parts of a, a.b, a.b.c or a.b.c.d into one host-order
// address; false when a part overflows its width.
bool CombineParts(const std::uint32_t (&parts)[kMaxParts], int count, std::uint32_t& address)
{
    // The last part fills what the leading 8-bit parts leave.
    const std::uint32_t lastPartLimit[kMaxParts] = {0xFFFFFFFFu, 0xFFFFFFu, 0xFFFFu, 0xFFu};
    address = 0;
    for (int i = 0; i < count - 1; ++i) {
        if (parts[i] > 0xFFu)
            return false;
        address |= parts[i] << (24 - 8 * i);
    }
    if (parts[count - 1] > lastPartLimit[count - 1])
        return false;
    address |= parts[count - 1];
    return true;
}

} // namespace

int inet_pton4(const char* text, unsigned char* out, int strict)
{
    if (text == nullptr || out == nullptr)
        return 0;
    std::uint32_t parts[kMaxParts] = {};
    int count = 0;
    if (!ReadParts(text, strict != 0, parts, count))
        return 0;
    if (strict && count != kMaxParts)
        return 0;
    std::uint32_t address = 0;
    if (!CombineParts(parts, count, address))
        return 0;
    out[0] = static_cast<unsigned char>(address >> 24);
    out[1] = static_cast<unsigned char>(address >> 16);
    out[2] = static_cast<unsigned char>(address >> 8);
    out[3] = static_cast<unsigned char>(address);
    return 1;
}

const char* inet_ntop4(const unsigned char* bytes, char* out, unsigned int size)
{
    if (bytes == nullptr || out == nullptr)
        return nullptr;
    char text[sizeof "255.255.255.255"];
    const int length = std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    if (length < 0 || static_cast<unsigned int>(length) + 1 > size) {
        errno = ENOSPC;
        return nullptr;
    }
    std::memcpy(out, text, static_cast<std::size_t>(length) + 1);
    return out;
}

int inet_pton(int family, const char* text, in_addr* out)
{
    if (family != AF_INET) {
        errno = EAFNOSUPPORT;
        return -1;
    }
    return inet_pton4(text, reinterpret_cast<unsigned char*>(out), 1);
}

const char* inet_ntop(int family, const in_addr* address, char* out, unsigned int size)
{
    if (family != AF_INET) {
        errno = EAFNOSUPPORT;
        return nullptr;
    }
    return inet_ntop4(reinterpret_cast<const unsigned char*>(address), out, size);
}

unsigned int inet_network(const char* text)
{
    unsigned char bytes[4];
    if (!inet_pton4(text, bytes, 1))
        return 0;
    return static_cast<unsigned int>(bytes[0]) << 24 | static_cast<unsigned int>(bytes[1]) << 16 |
           static_cast<unsigned int>(bytes[2]) << 8 | bytes[3];
}

} // namespace Halvane
