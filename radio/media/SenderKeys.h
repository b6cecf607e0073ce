// Per-sender voice keys: the key identifiers (SRTP MKI) a radio gives the
// keys it sends under, and the derivation of each such key from the group's
// key. The reasons are at the top of SenderKeys.cpp.
#pragma once

#include "VoiceKey.h"

#include <array>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

// The MKI of a sender key: 6 bytes start stamp, 3 bytes key number, 3 bytes
// random; bytes 0 to 8 read as one big-endian number give the key's epoch.
constexpr std::size_t kSenderMkiLength = 12;
using SenderMki = std::array<unsigned char, kSenderMkiLength>;

// The order of a sender's keys: a key with a later epoch replaces one with
// an earlier epoch; an equal or earlier epoch is old traffic.
std::uint64_t senderKeyEpoch(const SenderMki& mki);

// Hands out the key identifiers of this process's sender keys.
class SenderEpochs
{
public:
    // Milliseconds since 1970.
    using Clock = std::function<std::uint64_t()>;
    // Keeps the start stamp of the last start (reads the value stored,
    // stores a new one); the program's keeps it in the local settings.
    struct StampStore
    {
        std::function<std::optional<std::uint64_t>()> load;
        std::function<void(std::uint64_t)> save;
    };

    // The process's epochs. The program gives it its stamp store once at
    // start-up, before the first voice packet.
    static SenderEpochs& instance();

    SenderEpochs();
    // The start stamp: later than the clock's now and than any stamp the
    // store holds; stored at once.
    void start(const StampStore& store, Clock clock = Clock());

    // The MKI of a new sender key; none once every key number of this
    // start was given out (the process then sends nothing encrypted).
    std::optional<SenderMki> next();

    std::uint64_t startStamp() const;

private:
    void startOnce(const StampStore& store, const Clock& clock);

    mutable std::mutex mutex_;
    std::uint64_t stamp_ = 0;
    std::uint32_t lastNumber_ = 0;
    bool started_ = false;
};

// Where the packets under a sender key go: the group address (host order)
// that the sender sends to. Keys derived for one group never decrypt
// traffic replayed into another.
using VoiceScope = std::uint32_t;

// The SRTP master key and salt of one sender key: derived from the group's
// key, the sender's SSRC, the scope and the MKI.
VoiceKey deriveSenderKey(const VoiceKey& groupKey, VoiceScope scope, std::uint32_t ssrc, const SenderMki& mki);
