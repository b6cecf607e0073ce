// Session ids and form tokens from libsodium's generator and comparison.
#include "Tokens.h"

#include <sodium.h>

#include <stdexcept>

namespace Manager {

namespace {

std::string hexText(const unsigned char* bytes, std::size_t length)
{
    std::string text(length * 2 + 1, '\0');
    sodium_bin2hex(text.data(), text.size(), bytes, length);
    text.pop_back();
    return text;
}

void initialiseSodium()
{
    // Idempotent and safe to call from several threads.
    if (sodium_init() < 0)
        throw std::runtime_error("libsodium could not be initialised");
}

} // namespace

std::string randomToken()
{
    initialiseSodium();
    unsigned char bytes[32];
    randombytes_buf(bytes, sizeof bytes);
    return hexText(bytes, sizeof bytes);
}

bool sameToken(const std::string& expected, const std::string& given)
{
    // The length of a token is no secret; the comparison of its bytes is.
    if (expected.empty() || expected.size() != given.size())
        return false;
    return sodium_memcmp(expected.data(), given.data(), expected.size()) == 0;
}

std::string tokenDigest(const std::string& token)
{
    initialiseSodium();
    unsigned char digest[crypto_generichash_BYTES];
    crypto_generichash(digest, sizeof digest, reinterpret_cast<const unsigned char*>(token.data()), token.size(),
                       nullptr, 0);
    return hexText(digest, sizeof digest);
}

} // namespace Manager
