// Why no two voice packets are ever encrypted under the same key and index.
//
// Every radio of a talk group holds the same group key, and a radio sends
// under the same SSRC (its device id) every time it starts. SRTP encrypts
// packet i of a stream with the keystream of (key, SSRC, i); two senders, or
// two starts of one sender, under one key with the same index would hand an
// eavesdropper the XOR of two voice payloads. So nobody sends under the
// group key itself:
//
// - Each sender key is derived with HKDF-SHA256 (RFC 5869, on libsodium's
//   HMAC-SHA256) from the group's master key and salt, the sender's SSRC,
//   the group address it sends to and a 12-byte key identifier. Senders
//   with other SSRCs, or sending to other groups, never share a key, and
//   traffic recorded on one group does not authenticate on another.
// - The identifier travels in every SRTP and SRTCP packet as its MKI, so a
//   receiver that tunes in late derives the sender's key from the first
//   packet it hears. It is made of a start stamp (milliseconds since 1970,
//   and always later than the stamp of the previous start, which the radio
//   keeps in its local settings: a restart never repeats it, not within the
//   same millisecond nor with the clock set back), the number of the key
//   within this start, and 3 random bytes for the day both the stored
//   stamp and the clock are lost.
// - One sender key only ever sees its index go up, with the rollover
//   counter at 0. When the RTP sequence number would wrap, goes back or
//   jumps (the session was reset or readdressed), and whenever the group,
//   the SSRC or the group key change, the sender takes a new key with the
//   next number (VoicePrivacy.cpp). libsrtp's refusal to send an index
//   twice under one key guards the rest.
//
// Receivers keep for each sender the key with the latest epoch (start stamp
// and key number): packets under an earlier key are old traffic played back
// and are refused, and within one key SRTP's replay window refuses repeats.
#include "SenderKeys.h"

#include <sodium.h>

#include <chrono>
#include <cstring>
#include <stdexcept>

namespace {

constexpr std::uint32_t kLastKeyNumber = 0xFFFFFF;
const char* const kDerivationLabel = "RVX4400 voice sender key";

std::uint64_t wallClockMs()
{
    using namespace std::chrono;
    return static_cast<std::uint64_t>(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

void putBigEndian(unsigned char* to, std::uint64_t value, int bytes)
{
    for (int i = bytes - 1; i >= 0; --i) {
        to[i] = static_cast<unsigned char>(value);
        value >>= 8;
    }
}

void hmacSha256(const unsigned char* key, std::size_t keyLength, const unsigned char* message,
                std::size_t messageLength, unsigned char out[crypto_auth_hmacsha256_BYTES])
{
    crypto_auth_hmacsha256_state state;
    crypto_auth_hmacsha256_init(&state, key, keyLength);
    crypto_auth_hmacsha256_update(&state, message, messageLength);
    crypto_auth_hmacsha256_final(&state, out);
    sodium_memzero(&state, sizeof state);
}

} // namespace

std::uint64_t senderKeyEpoch(const SenderMki& mki)
{
    std::uint64_t epoch = 0;
    for (std::size_t i = 0; i < 9; ++i)
        epoch = (epoch << 8) | mki[i];
    return epoch;
}

SenderEpochs& SenderEpochs::instance()
{
    static SenderEpochs* const epochs = new SenderEpochs;
    return *epochs;
}

SenderEpochs::SenderEpochs()
{
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium cannot be initialised");
}

void SenderEpochs::start(const StampStore& store, Clock clock)
{
    std::lock_guard<std::mutex> lock(mutex_);
    startOnce(store, clock);
}

void SenderEpochs::startOnce(const StampStore& store, const Clock& clock)
{
    const std::uint64_t now = (clock ? clock() : wallClockMs()) & 0xFFFFFFFFFFFFull;
    const std::optional<std::uint64_t> previous = store.load ? store.load() : std::nullopt;
    stamp_ = previous && *previous >= now ? *previous + 1 : now;
    if (store.save)
        store.save(stamp_);
    lastNumber_ = 0;
    started_ = true;
}

std::uint64_t SenderEpochs::startStamp() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return stamp_;
}

std::optional<SenderMki> SenderEpochs::next()
{
    std::lock_guard<std::mutex> lock(mutex_);
    // A process that was given no store (a test peer) starts at its clock.
    if (!started_)
        startOnce(StampStore{}, Clock());
    if (lastNumber_ == kLastKeyNumber)
        return std::nullopt;
    ++lastNumber_;
    SenderMki mki{};
    putBigEndian(mki.data(), stamp_, 6);
    putBigEndian(mki.data() + 6, lastNumber_, 3);
    randombytes_buf(mki.data() + 9, 3);
    return mki;
}

VoiceKey deriveSenderKey(const VoiceKey& groupKey, VoiceScope scope, std::uint32_t ssrc, const SenderMki& mki)
{
    // Extract: the master salt keys the HMAC over the master key.
    unsigned char pseudoRandomKey[crypto_auth_hmacsha256_BYTES];
    hmacSha256(groupKey.material.data() + kVoiceMasterKeyLength, kVoiceMasterSaltLength, groupKey.material.data(),
               kVoiceMasterKeyLength, pseudoRandomKey);

    // Expand: one block is enough for a master key and salt.
    unsigned char info[64];
    std::size_t length = 0;
    const std::size_t labelLength = std::strlen(kDerivationLabel);
    std::memcpy(info, kDerivationLabel, labelLength);
    length += labelLength;
    info[length++] = 0;
    putBigEndian(info + length, scope, 4);
    length += 4;
    putBigEndian(info + length, ssrc, 4);
    length += 4;
    std::memcpy(info + length, mki.data(), mki.size());
    length += mki.size();
    info[length++] = 0x01;
    unsigned char block[crypto_auth_hmacsha256_BYTES];
    hmacSha256(pseudoRandomKey, sizeof pseudoRandomKey, info, length, block);

    VoiceKey derived;
    std::memcpy(derived.material.data(), block, derived.material.size());
    sodium_memzero(pseudoRandomKey, sizeof pseudoRandomKey);
    sodium_memzero(block, sizeof block);
    return derived;
}
