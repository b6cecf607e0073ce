// The management-service simulator as a program on 127.0.0.1: enrolment
// replies, signed and encrypted settings, demo and location paths, and its
// administration client; and its unit records on their own.
#include "GpgHome.h"
#include "ManagementSimProcess.h"
#include "RelayProcess.h"
#include "TemporaryGnupgHome.h"
#include "UnitRegistry.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <csignal>
#include <filesystem>
#include <pthread.h>

namespace {

using ManagementSim::Unit;
using ManagementSim::UnitRegistry;
using rvx::test::ManagementSimProcess;
using rvx::test::TemporaryGnupgHome;

const char* const kServerFingerprint = "7D49154E40B7B66AE64C7F26DA258290836B5AB2";

// A device key made in its own GnuPG home, as a radio would have it.
struct DeviceKey
{
    DeviceKey()
    {
        home.MakeDeviceKey();
        fingerprint = home.Fingerprint();
        keyId = home.KeyId();
        publicKey = home.PublicKey();
        home.Gpg("--import '" RVX_TEST_SERVER_KEY "'");
    }
    TemporaryGnupgHome home;
    std::string fingerprint;
    std::string keyId;
    std::string publicKey;
};

std::string Post(int port, const char* path, const httplib::Params& form)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(10);
    const httplib::Result result = client.Post(path, form);
    return result ? result->body : std::string("(no answer)");
}

class ManagementSimTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.Started());
        ASSERT_EQ(device.fingerprint.size(), 40u);
    }
    std::string RequestSettings()
    {
        return Post(sim.Port(), "/api/devconf/get",
                    {{"api_user", "020000000001"}, {"uid", device.fingerprint}, {"kid", device.keyId}, {"type", "WRVX"}});
    }
    std::string UploadKey()
    {
        return Post(sim.Port(), "/api/initialize",
                    {{"api_user", "020000000001"}, {"fingerprint", device.fingerprint}, {"key_id", device.keyId},
                     {"public_key", device.publicKey}});
    }

    ManagementSimProcess sim;
    DeviceKey device;
};

TEST_F(ManagementSimTest, EnrolmentGoesFromKeyNeededToSignedSettings)
{
    EXPECT_EQ(RequestSettings(), "PUBLIC_KEY_NEEDED");
    EXPECT_EQ(UploadKey(), "OK\n");
    EXPECT_EQ(RequestSettings(), "UNIT_NOT_YET_REGISTERED");
    EXPECT_EQ(sim.Admin({"register", device.keyId, "Harbour Patrol"}), "OK\n");

    const std::string reply = RequestSettings();
    ASSERT_EQ(reply.rfind("-----BEGIN PGP MESSAGE-----", 0), 0u) << reply;
    const std::string status = device.home.Gpg("--status-fd 1 -d", reply);
    EXPECT_NE(status.find("[GNUPG:] VALIDSIG"), std::string::npos) << status;
    EXPECT_NE(status.find(kServerFingerprint), std::string::npos);
    EXPECT_NE(device.home.Gpg("-d", reply).find("accountName=\"Harbour Patrol\""), std::string::npos);

    // Unregistered after registration: the status word comes signed and
    // encrypted, so that the unit can trust it.
    EXPECT_EQ(sim.Admin({"unregister", device.keyId}), "OK\n");
    const std::string unregistration = RequestSettings();
    ASSERT_EQ(unregistration.rfind("-----BEGIN PGP MESSAGE-----", 0), 0u) << unregistration;
    EXPECT_NE(device.home.Gpg("--status-fd 1 -d", unregistration).find("[GNUPG:] VALIDSIG"), std::string::npos);
    EXPECT_EQ(device.home.Gpg("-d", unregistration), "UNIT_NOT_YET_REGISTERED");
}

TEST_F(ManagementSimTest, SettingsDocumentFromAFileIsServed)
{
    UploadKey();
    sim.Admin({"register", device.keyId, "Acct"});
    const std::string file = device.home.Path() + "/doc.xml";
    rvx::test::RunCommand("cat > '" + file + "'", "<Settings name=\"From file\"/>\n");

    EXPECT_EQ(sim.Admin({"set-settings", device.keyId, file}), "OK\n");
    EXPECT_EQ(device.home.Gpg("-d", RequestSettings()), "<Settings name=\"From file\"/>\n");
}

TEST_F(ManagementSimTest, LocationsAndDemoDocumentAndListing)
{
    EXPECT_EQ(Post(sim.Port(), "/index.php/api/location/put",
                   {{"kid", device.keyId}, {"lat", "45.50000000"}, {"lon", "-122.25000000"}, {"ts", "7"}}),
              "OK\n");
    EXPECT_NE(Post(sim.Port(), "/index.php/api/demo", {}).find("<HalvaneChannels>"), std::string::npos);
    const std::string listing = sim.Admin({"list"});
    EXPECT_NE(listing.find(device.keyId + " key=none registered=no"), std::string::npos) << listing;
    EXPECT_NE(listing.find("location=45.50000000,-122.25000000 ts=7 posts=1"), std::string::npos) << listing;
}

TEST_F(ManagementSimTest, BadRequestsAreRefused)
{
    EXPECT_EQ(sim.Admin({"register", "not-a-code", "Acct"}), "error: registration code must be 8 hexadecimal digits\n");
    EXPECT_EQ(sim.Admin({"unregister", "0000ABCD"}), "error: unit 0000ABCD is not registered\n");
    EXPECT_EQ(Post(sim.Port(), "/api/initialize",
                   {{"fingerprint", device.fingerprint}, {"key_id", device.keyId}, {"public_key", "garbage"}}),
              "error: public key not accepted\n");
    EXPECT_EQ(RequestSettings(), "PUBLIC_KEY_NEEDED");
}

TEST_F(ManagementSimTest, PushAsksTheRelayToNotifyTheUnit)
{
    rvx::test::RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    EXPECT_EQ(sim.Admin({"push", device.keyId, relay.ControlSocket()}), "OK\nrelay: notified 0\n");
    EXPECT_EQ(sim.Admin({"push", device.keyId, "/nonexistent/control"}).rfind("error: no relay answered", 0), 0u);
}

TEST(UnitRegistryTest, CodesRegistrationsAndListing)
{
    UnitRegistry registry;
    EXPECT_TRUE(UnitRegistry::IsValidCode("0a1B2c3D"));
    for (const char* bad : {"", "0A1B2C3", "0A1B2C3D4", "0A1B2C3G"})
        EXPECT_FALSE(UnitRegistry::IsValidCode(bad)) << bad;
    EXPECT_FALSE(registry.Register("xyz", "A"));
    EXPECT_FALSE(registry.Unregister("0A1B2C3D"));

    EXPECT_TRUE(registry.Register("0a1b2c3d", "A & B"));
    const std::optional<Unit> unit = registry.Find("0A1B2C3D");
    ASSERT_TRUE(unit);
    EXPECT_TRUE(unit->registered);
    EXPECT_NE(UnitRegistry::SettingsDocumentFor(*unit).find("accountName=\"A &amp; B\""), std::string::npos);
    EXPECT_TRUE(registry.Unregister("0A1B2C3D"));
    EXPECT_FALSE(registry.Find("0A1B2C3D")->registered);
}

// gpg closes its output a moment before it ends: its exit status is waited
// for, not taken as a kill.
TEST(GpgHomeTest, ProgramThatClosesItsOutputBeforeEndingKeepsItsExitStatus)
{
    const ManagementCommon::ProgramResult result =
        ManagementCommon::RunProgram({"sh", "-c", "echo out; exec >&-; sleep 0.3; exit 3"}, std::string(), 5000);
    EXPECT_TRUE(result.ran);
    EXPECT_EQ(result.output, "out\n");
    EXPECT_EQ(result.exitCode, 3);
}

// A lasting home stops the agent only when it started it.
TEST(GpgHomeTest, LastingHomeStopsOnlyTheAgentItStarted)
{
    char pattern[] = "/tmp/g.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string folder = pattern;
    auto agentRuns = [&folder] {
        return ManagementCommon::RunProgram(
                   {"gpg-connect-agent", "--homedir", folder, "--no-autostart", "GETINFO pid", "/bye"}, std::string(), 5000)
                   .output.find("\nOK") != std::string::npos;
    };
    {
        ManagementCommon::GpgHome home(folder, ManagementCommon::GpgHome::Agent::StopIfStartedHere);
        ManagementCommon::RunProgram({"gpg-connect-agent", "--homedir", folder, "/bye"}, std::string(), 5000);
        EXPECT_TRUE(agentRuns());
    }
    EXPECT_FALSE(agentRuns());

    ManagementCommon::RunProgram({"gpg-connect-agent", "--homedir", folder, "/bye"}, std::string(), 5000);
    ASSERT_TRUE(agentRuns());
    { ManagementCommon::GpgHome home(folder, ManagementCommon::GpgHome::Agent::StopIfStartedHere); }
    EXPECT_TRUE(agentRuns());
    ManagementCommon::RunProgram({"gpgconf", "--homedir", folder, "--kill", "gpg-agent"}, std::string(), 5000);
    std::filesystem::remove_all(folder);
}

// The services block their stop signals: a child (gpg, and an agent it
// starts) must not inherit that, or it cannot be stopped by them.
TEST(GpgHomeTest, ChildrenStartWithoutTheServicesBlockedSignals)
{
    sigset_t stopSignals, previous;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, &previous);
    const ManagementCommon::ProgramResult result =
        ManagementCommon::RunProgram({"grep", "SigBlk", "/proc/self/status"}, std::string(), 5000);
    pthread_sigmask(SIG_SETMASK, &previous, nullptr);
    EXPECT_EQ(result.output, "SigBlk:\t0000000000000000\n");
}

} // namespace
