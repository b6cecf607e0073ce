// Tests of the MAC address choice: the first adapter that is up, not a
// loopback and has a hardware address, the stored address and its messages.
#include "MacAddress.h"

#include "LogCapture.h"
#include "PersistentQSettings.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <cstdlib>

namespace {

using rvx::test::LogCapture;

class MacAddressTest : public ::testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        folder = new QTemporaryDir;
        ::setenv("appdata", folder->path().toLocal8Bit().constData(), 1);
    }
    static void TearDownTestSuite()
    {
        delete folder;
        folder = nullptr;
    }
    static QTemporaryDir* folder;
};
QTemporaryDir* MacAddressTest::folder = nullptr;

TEST_F(MacAddressTest, FirstAdapterThatIsUpWithAHardwareAddressIsChosen)
{
    const NetworkAdapter loopback{"00:00:00:00:00:00", true, true};
    const NetworkAdapter down{"11:11:11:11:11:11", false, false};
    const NetworkAdapter ethernet{"02:AB:CD:EF:01:23", true, false};
    const NetworkAdapter second{"02:00:00:00:00:02", true, false};
    // Tunnels (tun, wg, ppp) are up but have no hardware address.
    const NetworkAdapter tunnel{"", true, false};
    const NetworkAdapter zeroAddress{"00:00:00:00:00:00", true, false};

    EXPECT_EQ(firstUsableHardwareAddress({loopback, ethernet}), "02:AB:CD:EF:01:23");
    EXPECT_EQ(firstUsableHardwareAddress({tunnel, zeroAddress, ethernet}), "02:AB:CD:EF:01:23");
    EXPECT_EQ(firstUsableHardwareAddress({loopback, tunnel}), "");
    EXPECT_EQ(firstUsableHardwareAddress({down, loopback, ethernet, second}), "02:AB:CD:EF:01:23");
    EXPECT_EQ(firstUsableHardwareAddress({loopback, down}), "");
    EXPECT_EQ(firstUsableHardwareAddress({}), "");
}

TEST_F(MacAddressTest, AddressLosesItsSeparatorsAndIsKeptWhenNoAdapterQualifies)
{
    EXPECT_EQ(getMacAddressFrom({{"02:AB:CD:EF:01:23", true, false}}), "02ABCDEF0123");
    EXPECT_EQ(getMacAddressFrom({{"00:00:00:00:00:00", true, true}}), "02ABCDEF0123");
}

TEST_F(MacAddressTest, StoredAddressOfAnotherMachineIsReportedAndReplaced)
{
    LogCapture log("DISPLAY_MAC_ADDRESS\n");
    PersistentQSettings::instance()->setValue("mac_address", "AA:AA:AA:AA:AA:AA");

    EXPECT_EQ(getMacAddressFrom({{"02:00:00:00:00:07", true, false}}), "020000000007");
    EXPECT_TRUE(log.Contains("MAC Address, 02:00:00:00:00:07 doesn't match the one specified in the settings.\n"));
    EXPECT_TRUE(log.Contains("Using MAC Address: 020000000007\n"));
    EXPECT_EQ(PersistentQSettings::instance()->value("mac_address").toString(), "02:00:00:00:00:07");

    log.Clear();
    getMacAddressFrom({{"02:00:00:00:00:07", true, false}});
    EXPECT_TRUE(log.Contains("MAC Address, 02:00:00:00:00:07 was found on this machine\n"));
}

TEST_F(MacAddressTest, LongHardwareAddressIsCutToNineteenCharacters)
{
    EXPECT_EQ(getMacAddressFrom({{"01:23:45:67:89:AB:CD:EF:01:23:45", true, false}}).size(), 19u);
}

} // namespace
