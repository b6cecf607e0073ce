// Tests of the device id: conversion from key ids, the hexadecimal form and
// the fall-back to 0 when the key id cannot be had.
#include "DeviceIdentity.h"

#include "LogCapture.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

using rvx::test::LogCapture;

struct Conversion
{
    const char* keyId;
    device_id_t id;
    const char* hex;
};

TEST(DeviceIdentityTest, KeyIdsConvertToDeviceIdsAndBack)
{
    const Conversion table[] = {
        {"89ABCDEF", 0x89ABCDEFu, "89ABCDEF"},
        {"0000000A", 10u, "0000000A"},
        {"0a1b2c3d", 0x0A1B2C3Du, "0A1B2C3D"},
        {"123489ABCDEF", 0x89ABCDEFu, "89ABCDEF"}, // 12 digits: the last 8 count
        {"FEDCBA980A1B2C3D", 0x0A1B2C3Du, "0A1B2C3D"}, // a long key id
        {"7D49154E40B7B66AE64C7F26DA258290836B5AB2", 0x836B5AB2u, "836B5AB2"}, // a fingerprint
        {"FFFFFFFF", 0xFFFFFFFFu, "FFFFFFFF"},
    };
    for (const Conversion& row : table) {
        EXPECT_EQ(keyIdToDeviceId(row.keyId), row.id) << row.keyId;
        char hex[9];
        EXPECT_STREQ(deviceIdToHex(row.id, hex), row.hex) << row.keyId;
    }
}

TEST(DeviceIdentityTest, KeyIdsOutsideEightToFortyCharactersOrNotHexInTheLastEightHaveNoId)
{
    const std::string tooLong(41, 'A');
    for (const char* keyId : {"", "1234567", tooLong.c_str(), "1234567G", "12 45678", "ZZ89ABCDEF"})
        EXPECT_EQ(keyIdToDeviceId(keyId), keyId == std::string("ZZ89ABCDEF") ? 0x89ABCDEFu : 0u) << keyId;
    EXPECT_EQ(keyIdToDeviceId(nullptr), 0u);
}

TEST(DeviceIdentityTest, DeviceIdComesFromTheKeyIdAndIsLoggedOnce)
{
    LogCapture log;
    setKeyIdSource([] { return std::string("0A1B2C3D"); });
    EXPECT_EQ(getDeviceId(), 0x0A1B2C3Du);
    EXPECT_EQ(getDeviceId(), 0x0A1B2C3Du);
    EXPECT_EQ(log.Count("Using Device ID: 0A1B2C3D\n"), 1u);
    setKeyIdSource({});
}

TEST(DeviceIdentityTest, MissingOrFailingKeyIdGivesDeviceIdZero)
{
    LogCapture log;
    setKeyIdSource({});
    EXPECT_EQ(getDeviceId(), 0u);
    setKeyIdSource([] { return std::string(); });
    EXPECT_FALSE(getKeyId().has_value());
    EXPECT_EQ(getDeviceId(), 0u);
    setKeyIdSource([]() -> std::string { throw std::runtime_error("Unable to find my public key fingerprint"); });
    EXPECT_FALSE(getKeyId().has_value());
    EXPECT_TRUE(log.Contains("Exception in getKeyId(): Unable to find my public key fingerprint\n"));
    EXPECT_EQ(getDeviceId(), 0u);
    EXPECT_TRUE(log.Contains("Failure getting GPG-based key ID.  Using device ID of 0.\n"));
    setKeyIdSource({});
}

} // namespace
