// Secret tokens of the console: session ids and form tokens.
#pragma once

#include <string>

namespace Manager {

// 256 random bits from the system's secure generator, as 64 hex digits.
std::string randomToken();

// Whether the two tokens are equal, taking the same time wherever they
// differ, so that response times reveal nothing of a secret token.
bool sameToken(const std::string& expected, const std::string& given);

// A one-way digest of a token (hex), for keeping tokens in tables whose
// lookup time may depend on the key.
std::string tokenDigest(const std::string& token);

} // namespace Manager
