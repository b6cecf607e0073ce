// IEEE 802.3 CRC-32 (reflected polynomial EDB88320, preset and final
// complement): the values of LZO's lzo_crc32 and zlib's crc32, computed
// eight bytes at a time because it runs on every received datagram.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Halvane::Adapter {

std::uint32_t Crc32(const unsigned char* data, std::size_t length);

} // namespace Halvane::Adapter
