// SipHash through libsodium, and keys from its random source.
#include "KeyedHash.h"

#include <sodium.h>
#include <stdexcept>

namespace Relay {

namespace {

void InitialiseSodium()
{
    // Safe to call more than once and from several threads.
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

} // namespace

HashKey RandomHashKey()
{
    static_assert(sizeof(HashKey) == crypto_shorthash_KEYBYTES, "SipHash takes a 16-byte key");
    InitialiseSodium();
    HashKey key;
    randombytes_buf(key.data(), key.size());
    return key;
}

const HashKey& TableHashKey()
{
    static const HashKey key = RandomHashKey();
    return key;
}

std::uint64_t KeyedHash(const HashKey& key, const void* data, std::size_t length)
{
    unsigned char out[crypto_shorthash_BYTES];
    crypto_shorthash(out, static_cast<const unsigned char*>(data), length, key.data());
    std::uint64_t value = 0;
    for (int i = 7; i >= 0; --i)
        value = value << 8 | out[i];
    return value;
}

} // namespace Relay
