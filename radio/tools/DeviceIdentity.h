// The radio's identity towards other radios: the 32-bit device id taken
// from its GnuPG key id, and its display form.
#pragma once

#include "device_id.h"

#include <functional>
#include <optional>
#include <string>

// Where the key id comes from; the key management agent installs itself
// here when it is created. Throws when the key cannot be queried.
using key_id_source_t = std::function<std::string()>;
void setKeyIdSource(key_id_source_t source);

// The key id, or none when it is empty or its query failed (logged).
std::optional<std::string> getKeyId();

// The device id from the key id; 0 when there is no key id.
device_id_t getDeviceId();

// The last 8 of at most 40 hexadecimal digits, read as a number; key ids
// outside 8 to 40 characters or with other characters give 0.
device_id_t keyIdToDeviceId(const char* keyId);

// "%08X" of the id into buffer (at least 9 bytes); returns buffer.
char* deviceIdToHex(device_id_t id, char* buffer);
