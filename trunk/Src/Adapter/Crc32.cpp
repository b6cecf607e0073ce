// CRC-32 two ways: folding with carry-less multiplication (PCLMULQDQ) for
// runs of 64 bytes and more on processors that have it, and slicing-by-8
// (eight lookup tables, eight bytes a step) for the rest.
#include "Adapter/Crc32.h"

#include <array>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace Halvane::Adapter {

namespace {

constexpr std::uint32_t kPolynomial = 0xEDB88320u;

using Tables = std::array<std::array<std::uint32_t, 256>, 8>;

constexpr Tables MakeTables()
{
    Tables tables{};
    for (std::uint32_t byte = 0; byte < 256; ++byte) {
        std::uint32_t crc = byte;
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc >> 1) ^ ((crc & 1u) ? kPolynomial : 0u);
        tables[0][byte] = crc;
    }
    // tables[k][b]: the CRC of byte b followed by k zero bytes.
    for (std::size_t k = 1; k < 8; ++k)
        for (std::size_t byte = 0; byte < 256; ++byte)
            tables[k][byte] = (tables[k - 1][byte] >> 8) ^ tables[0][tables[k - 1][byte] & 0xFFu];
    return tables;
}

constexpr Tables kTables = MakeTables();

std::uint32_t LoadLittleEndian32(const unsigned char* in)
{
    return static_cast<std::uint32_t>(in[0]) | static_cast<std::uint32_t>(in[1]) << 8 |
           static_cast<std::uint32_t>(in[2]) << 16 | static_cast<std::uint32_t>(in[3]) << 24;
}

// Continues a CRC register (not complemented) over the bytes.
std::uint32_t TableCrc(std::uint32_t crc, const unsigned char* data, std::size_t length)
{
    for (; length >= 8; data += 8, length -= 8) {
        const std::uint32_t low = LoadLittleEndian32(data) ^ crc;
        const std::uint32_t high = LoadLittleEndian32(data + 4);
        crc = kTables[7][low & 0xFFu] ^ kTables[6][(low >> 8) & 0xFFu] ^ kTables[5][(low >> 16) & 0xFFu] ^
              kTables[4][low >> 24] ^ kTables[3][high & 0xFFu] ^ kTables[2][(high >> 8) & 0xFFu] ^
              kTables[1][(high >> 16) & 0xFFu] ^ kTables[0][high >> 24];
    }
    for (; length > 0; ++data, --length)
        crc = (crc >> 8) ^ kTables[0][(crc ^ *data) & 0xFFu];
    return crc;
}

#if defined(__x86_64__)

#define RVX_CLMUL_TARGET __attribute__((target("pclmul,sse4.1")))

RVX_CLMUL_TARGET __m128i Load(const unsigned char* at)
{
    return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at));
}

// Multiplies both halves of x by the folding constants and adds next.
RVX_CLMUL_TARGET __m128i Fold(__m128i x, __m128i k, __m128i next)
{
    return _mm_xor_si128(_mm_xor_si128(_mm_clmulepi64_si128(x, k, 0x11), _mm_clmulepi64_si128(x, k, 0x00)), next);
}

// Folds length bytes (at least 64, a multiple of 16) into the CRC register,
// after "Fast CRC Computation for Generic Polynomials Using PCLMULQDQ
// Instruction" (Intel, 2009), with the constants for the reflected IEEE
// polynomial.
RVX_CLMUL_TARGET std::uint32_t FoldingCrc(std::uint32_t crc, const unsigned char* data, std::size_t length)
{
    const __m128i k1k2 = _mm_set_epi64x(0x01c6e41596, 0x0154442bd4);
    const __m128i k3k4 = _mm_set_epi64x(0x00ccaa009e, 0x01751997d0);
    const __m128i k5k0 = _mm_set_epi64x(0, 0x0163cd6124);
    const __m128i poly = _mm_set_epi64x(0x01f7011641, 0x01db710641);

    __m128i x1 = _mm_xor_si128(Load(data), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x2 = Load(data + 16);
    __m128i x3 = Load(data + 32);
    __m128i x4 = Load(data + 48);
    data += 64;
    length -= 64;
    for (; length >= 64; data += 64, length -= 64) {
        x1 = Fold(x1, k1k2, Load(data));
        x2 = Fold(x2, k1k2, Load(data + 16));
        x3 = Fold(x3, k1k2, Load(data + 32));
        x4 = Fold(x4, k1k2, Load(data + 48));
    }
    x1 = Fold(x1, k3k4, x2);
    x1 = Fold(x1, k3k4, x3);
    x1 = Fold(x1, k3k4, x4);
    for (; length >= 16; data += 16, length -= 16)
        x1 = Fold(x1, k3k4, Load(data));

    // 128 bits to 64, then Barrett reduction to 32.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    x2 = _mm_clmulepi64_si128(x1, k3k4, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k5k0, 0x00), x2);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), poly, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), poly, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return static_cast<std::uint32_t>(_mm_extract_epi32(x1, 1));
}

#undef RVX_CLMUL_TARGET

bool HaveCarrylessMultiply()
{
    static const bool have = __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
    return have;
}

#endif

} // namespace

std::uint32_t Crc32(const unsigned char* data, std::size_t length)
{
    std::uint32_t crc = 0xFFFFFFFFu;
#if defined(__x86_64__)
    if (length >= 64 && HaveCarrylessMultiply()) {
        const std::size_t folded = length & ~std::size_t{15};
        crc = FoldingCrc(crc, data, folded);
        data += folded;
        length -= folded;
    }
#endif
    return ~TableCrc(crc, data, length);
}

} // namespace Halvane::Adapter
