// Recognises datagrams seen recently: keeps the CRC-32 of the last 512
// payloads checked, whether they came over the trunk or by local multicast.
#pragma once

#include <cstddef>
#include <cstdint>

namespace Halvane::Adapter {

class CDuplicateWindow
{
public:
    static constexpr std::size_t kWindowSize = 512;

    // Records the payload's CRC-32 and says whether it was among the last
    // kWindowSize recorded.
    bool SeenRecently(const unsigned char* data, std::size_t length);

private:
    // The window's CRCs as a multiset, so that a check looks at a slot or
    // two instead of all 512 (it runs for every received datagram): open
    // addressing with linear probing, at most a quarter full.
    static constexpr std::size_t kTableSize = 4 * kWindowSize;
    struct Entry
    {
        std::uint32_t crc;
        std::uint32_t count; // 0: a free slot
    };

    static std::size_t Home(std::uint32_t crc);
    bool Contains(std::uint32_t crc) const;
    void Insert(std::uint32_t crc);
    void Remove(std::uint32_t crc);

    // The window in arrival order; the oldest is overwritten.
    std::uint32_t mCrcs[kWindowSize] = {};
    std::size_t mNextSlot = 0;
    // Slots filled so far: an unfilled slot holds no CRC, so a payload whose
    // CRC happens to be 0 is not taken for a duplicate of nothing.
    std::size_t mFilled = 0;
    Entry mTable[kTableSize] = {};
};

} // namespace Halvane::Adapter
