// Device id and key id: conversion between the key's hexadecimal id and the
// 32-bit number other radios know this one by.
#include "DeviceIdentity.h"

#include "debug_log.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace {

std::mutex sourceMutex;
key_id_source_t keyIdSource;
std::atomic<bool> firstDeviceIdLog{true};

constexpr std::size_t kKeyIdDigits = 8;
// A contact may name its key by a long key id (16 digits) or by its whole
// fingerprint (40); only the last 8 digits count.
constexpr std::size_t kLongestKeyId = 40;

key_id_source_t currentSource()
{
    std::lock_guard<std::mutex> lock(sourceMutex);
    return keyIdSource;
}

int hexDigitValue(char digit)
{
    if (digit >= '0' && digit <= '9')
        return digit - '0';
    const int lower = std::tolower(static_cast<unsigned char>(digit));
    if (lower >= 'a' && lower <= 'f')
        return lower - 'a' + 10;
    return -1;
}

} // namespace

void setKeyIdSource(key_id_source_t source)
{
    std::lock_guard<std::mutex> lock(sourceMutex);
    keyIdSource = std::move(source);
}

std::optional<std::string> getKeyId()
{
    const key_id_source_t source = currentSource();
    if (!source)
        return std::nullopt;
    try {
        std::string keyId = source();
        if (keyId.empty())
            return std::nullopt;
        return keyId;
    } catch (const std::exception& error) {
        debug_log_printf_always("Exception in getKeyId(): %s\n", error.what());
        return std::nullopt;
    }
}

device_id_t getDeviceId()
{
    const std::optional<std::string> keyId = getKeyId();
    if (!keyId) {
        debug_log_printf_always("Failure getting GPG-based key ID.  Using device ID of 0.\n");
        return 0;
    }
    const device_id_t id = keyIdToDeviceId(keyId->c_str());
    if (firstDeviceIdLog.exchange(false)) {
        char hex[9];
        debug_log_printf_always("Using Device ID: %s\n", deviceIdToHex(id, hex));
    }
    return id;
}

// Key ids shorter than 8 or longer than 40 characters, or with anything but
// hexadecimal digits in the last 8, have no id: 0, the value for "none".
device_id_t keyIdToDeviceId(const char* keyId)
{
    if (!keyId)
        return 0;
    const std::size_t length = ::strnlen(keyId, kLongestKeyId + 1);
    if (length < kKeyIdDigits || length > kLongestKeyId)
        return 0;
    device_id_t id = 0;
    for (const char* digit = keyId + length - kKeyIdDigits; *digit; ++digit) {
        const int value = hexDigitValue(*digit);
        if (value < 0)
            return 0;
        id = (id << 4) | static_cast<device_id_t>(value);
    }
    return id;
}

char* deviceIdToHex(device_id_t id, char* buffer)
{
    std::snprintf(buffer, 9, "%08X", static_cast<unsigned>(id));
    return buffer;
}
