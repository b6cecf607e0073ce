// Argon2id password hashes through libsodium.
#include "PasswordHash.h"

#include "FleetModel.h"

#include <sodium.h>

namespace Manager {

namespace {

void InitialiseSodium()
{
    if (sodium_init() < 0)
        throw FleetError("libsodium could not be initialised");
}

} // namespace

std::string hashPassword(const std::string& password)
{
    InitialiseSodium();
    char hash[crypto_pwhash_STRBYTES];
    if (crypto_pwhash_str_alg(hash, password.data(), password.size(), crypto_pwhash_OPSLIMIT_INTERACTIVE,
                              crypto_pwhash_MEMLIMIT_INTERACTIVE, crypto_pwhash_ALG_ARGON2ID13) != 0)
        throw FleetError("the password could not be hashed (out of memory)");
    return hash;
}

bool passwordMatches(const std::string& hash, const std::string& password)
{
    InitialiseSodium();
    if (hash.empty() || hash.size() >= crypto_pwhash_STRBYTES)
        return false;
    return crypto_pwhash_str_verify(hash.c_str(), password.data(), password.size()) == 0;
}

} // namespace Manager
