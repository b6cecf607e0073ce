// Duplicate detection by CRC-32 over a ring of the last 512 payloads.
#include "Adapter/DuplicateWindow.h"

#include "Adapter/Crc32.h"

namespace Halvane::Adapter {

std::size_t CDuplicateWindow::Home(std::uint32_t crc)
{
    // Fibonacci hashing: the top bits of the product spread CRCs that differ
    // only in a few bits.
    static_assert((kTableSize & (kTableSize - 1)) == 0, "a power of two");
    constexpr unsigned kShift = 32 - __builtin_ctz(static_cast<unsigned>(kTableSize));
    return static_cast<std::size_t>((crc * 0x9E3779B1u) >> kShift);
}

bool CDuplicateWindow::Contains(std::uint32_t crc) const
{
    for (std::size_t i = Home(crc);; i = (i + 1) & (kTableSize - 1)) {
        if (mTable[i].count == 0)
            return false;
        if (mTable[i].crc == crc)
            return true;
    }
}

void CDuplicateWindow::Insert(std::uint32_t crc)
{
    std::size_t i = Home(crc);
    while (mTable[i].count != 0 && mTable[i].crc != crc)
        i = (i + 1) & (kTableSize - 1);
    mTable[i].crc = crc;
    ++mTable[i].count;
}

void CDuplicateWindow::Remove(std::uint32_t crc)
{
    std::size_t hole = Home(crc);
    while (mTable[hole].crc != crc || mTable[hole].count == 0)
        hole = (hole + 1) & (kTableSize - 1);
    if (--mTable[hole].count != 0)
        return;
    // Backward-shift deletion: move later entries of the run into the hole
    // when their home does not lie after it, so no probe stops early.
    for (std::size_t next = (hole + 1) & (kTableSize - 1); mTable[next].count != 0;
         next = (next + 1) & (kTableSize - 1)) {
        const std::size_t home = Home(mTable[next].crc);
        const std::size_t fromHoleToHome = (home - hole) & (kTableSize - 1);
        const std::size_t fromHoleToNext = (next - hole) & (kTableSize - 1);
        if (fromHoleToHome != 0 && fromHoleToHome <= fromHoleToNext)
            continue; // its home is after the hole: it stays reachable
        mTable[hole] = mTable[next];
        mTable[next].count = 0;
        hole = next;
    }
}

bool CDuplicateWindow::SeenRecently(const unsigned char* data, std::size_t length)
{
    const std::uint32_t crc = Adapter::Crc32(data, length);
    const bool found = Contains(crc);
    if (mFilled == kWindowSize)
        Remove(mCrcs[mNextSlot]);
    else
        ++mFilled;
    mCrcs[mNextSlot] = crc;
    Insert(crc);
    mNextSlot = (mNextSlot + 1) % kWindowSize;
    return found;
}

} // namespace Halvane::Adapter
