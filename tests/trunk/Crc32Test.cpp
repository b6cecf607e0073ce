// The duplicate window's CRC-32 gives LZO's lzo_crc32 values on both of its
// paths (carry-less multiplication and tables).
#include "Adapter/Crc32.h"
#include "Adapter/DuplicateWindow.h"

#include <gtest/gtest.h>
#include <lzo/lzoconf.h>
#include <random>
#include <vector>

namespace {

TEST(Crc32, MatchesTheStandardCheckValueAndLzoForEveryLengthAndAlignment)
{
    const unsigned char check[] = "123456789";
    EXPECT_EQ(Halvane::Adapter::Crc32(check, 9), 0xCBF43926u);
    EXPECT_EQ(Halvane::Adapter::Crc32(nullptr, 0), 0u);

    std::mt19937 random(7);
    std::vector<unsigned char> bytes(2000 + 8);
    for (unsigned char& byte : bytes)
        byte = static_cast<unsigned char>(random());
    // Every length up to 300 covers the table-only path, the folding path
    // (64 bytes and more) and every tail after it.
    std::vector<std::size_t> lengths{1988, 2000};
    for (std::size_t length = 0; length <= 300; ++length)
        lengths.push_back(length);
    for (std::size_t offset = 0; offset < 8; ++offset)
        for (std::size_t length : lengths)
            ASSERT_EQ(Halvane::Adapter::Crc32(bytes.data() + offset, length),
                      lzo_crc32(0, bytes.data() + offset, static_cast<lzo_uint>(length)))
                << offset << "/" << length;
}

TEST(DuplicateWindow, AnEmptyWindowHoldsNoCrcNotEvenZero)
{
    Halvane::Adapter::CDuplicateWindow window;
    EXPECT_FALSE(window.SeenRecently(nullptr, 0)); // the CRC of nothing is 0
    EXPECT_TRUE(window.SeenRecently(nullptr, 0));
}

} // namespace
