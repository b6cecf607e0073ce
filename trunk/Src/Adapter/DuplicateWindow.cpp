// Duplicate detection by CRC-32 over a ring of the last 512 payloads.
#include "Adapter/DuplicateWindow.h"

#include <lzo/lzoconf.h>

namespace Halvane::Adapter {

std::uint32_t CDuplicateWindow::Crc32(const unsigned char* data, std::size_t length)
{
    return static_cast<std::uint32_t>(lzo_crc32(0, data, static_cast<lzo_uint>(length)));
}

bool CDuplicateWindow::Contains(std::uint32_t crc) const
{
    // A plain scan over a small array: simple loops like this vectorise.
    bool found = false;
    for (std::size_t i = 0; i < mFilled; ++i)
        found |= mCrcs[i] == crc;
    return found;
}

bool CDuplicateWindow::SeenRecently(const unsigned char* data, std::size_t length)
{
    const std::uint32_t crc = Crc32(data, length);
    const bool found = Contains(crc);
    mCrcs[mNextSlot] = crc;
    mNextSlot = (mNextSlot + 1) % kWindowSize;
    if (mFilled < kWindowSize)
        ++mFilled;
    return found;
}

} // namespace Halvane::Adapter
