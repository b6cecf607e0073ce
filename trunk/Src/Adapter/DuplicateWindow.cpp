// Duplicate detection by CRC-32 over a ring of the last 512 payloads.
#include "Adapter/DuplicateWindow.h"

#include "Adapter/Crc32.h"

#include <algorithm>

namespace Halvane::Adapter {

bool CDuplicateWindow::Contains(std::uint32_t crc) const
{
    // Slots not yet written hold 0: a CRC of 0 is looked for among the
    // written ones only.
    if (crc == 0 && mFilled < kWindowSize)
        return std::find(mCrcs, mCrcs + mFilled, 0u) != mCrcs + mFilled;
    // A branch-free count over the whole fixed-size array vectorises.
    unsigned int matches = 0;
    for (std::size_t i = 0; i < kWindowSize; ++i)
        matches += mCrcs[i] == crc ? 1u : 0u;
    return matches != 0;
}

bool CDuplicateWindow::SeenRecently(const unsigned char* data, std::size_t length)
{
    const std::uint32_t crc = Adapter::Crc32(data, length);
    const bool found = Contains(crc);
    mCrcs[mNextSlot] = crc;
    mNextSlot = (mNextSlot + 1) % kWindowSize;
    if (mFilled < kWindowSize)
        ++mFilled;
    return found;
}

} // namespace Halvane::Adapter
