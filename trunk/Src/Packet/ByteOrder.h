// Little-endian reads and writes of trunk packet fields, independent of the
// host's byte order and of the alignment of the buffer.
#pragma once

#include <cstdint>

namespace Halvane::Packet {

inline std::uint32_t ReadLe32(const unsigned char* in)
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

inline std::uint16_t ReadLe16(const unsigned char* in)
{
    return static_cast<std::uint16_t>(in[0] | in[1] << 8);
}

inline void WriteLe32(unsigned char* out, std::uint32_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
    out[2] = static_cast<unsigned char>(value >> 16);
    out[3] = static_cast<unsigned char>(value >> 24);
}

inline void WriteLe16(unsigned char* out, std::uint16_t value)
{
    out[0] = static_cast<unsigned char>(value);
    out[1] = static_cast<unsigned char>(value >> 8);
}

} // namespace Halvane::Packet
