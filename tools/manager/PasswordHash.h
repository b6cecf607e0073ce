// The console's sign-in password, kept as an Argon2id hash string
// (libsodium's crypto_pwhash_str, with its interactive limits).
#pragma once

#include <string>

namespace Manager {

// Throws FleetError when libsodium cannot hash (out of memory).
std::string hashPassword(const std::string& password);
bool passwordMatches(const std::string& hash, const std::string& password);

} // namespace Manager
