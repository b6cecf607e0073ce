// A keyed 64-bit hash (SipHash-2-4) for everything an outsider chooses:
// table keys, datagram fingerprints and the relay's cookies. With a secret
// key nobody can aim collisions at one hash bucket or forge a cookie.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace Relay {

using HashKey = std::array<unsigned char, 16>;

// A fresh key from the system's random source.
HashKey RandomHashKey();
// The process's key for hash tables, made once.
const HashKey& TableHashKey();

std::uint64_t KeyedHash(const HashKey& key, const void* data, std::size_t length);

} // namespace Relay
