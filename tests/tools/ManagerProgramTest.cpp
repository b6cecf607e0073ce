// rvx-manager as a program on 127.0.0.1, with a test GnuPG home playing the
// radio: enrolment from key upload to settings the radio's own verdict
// accepts, refused uploads, location posts, the listing's escaping, one
// serving process per data folder, backups, notices through a relay and a
// data folder whose path is too long for gpg's sockets.
#include "GpgDecryptionVerdict.h"
#include "GpgHome.h"
#include "ManagerProcess.h"
#include "RelayProcess.h"
#include "Store.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace {

using rvx::test::ManagerProcess;
using rvx::test::TemporaryGnupgHome;

// A radio's key made in its own GnuPG home, which also holds the manager's
// public key (as a radio built for this service would).
struct RadioKey
{
    RadioKey()
    {
        home.MakeDeviceKey();
        fingerprint = home.Fingerprint();
        keyId = home.KeyId();
        publicKey = home.PublicKey();
    }
    void TrustServer(const ManagerProcess& manager) { home.Gpg("--import", manager.Run({"public-key"}).output); }

    // The decrypted text, accepted only by the radio's rule and signed by
    // the pinned fingerprint; empty otherwise.
    std::string Decrypt(const std::string& message, const std::string& serverFingerprint) const
    {
        const std::string statusFile = home.Path() + "/status";
        const ManagementCommon::ProgramResult run = ManagementCommon::RunProgram(
            {"gpg", "--homedir", home.Path(), "--batch", "--no-tty", "--pinentry-mode", "error", "--status-file",
             statusFile, "-d", "--ignore-time-conflict"},
            message);
        std::ifstream file(statusFile);
        std::stringstream status;
        status << file.rdbuf();
        const GpgDecryptionVerdict verdict = judgeGpgDecryption(status.str(), run.exitCode, serverFingerprint);
        return verdict.accepted && verdict.signedByServer ? run.output : std::string();
    }

    TemporaryGnupgHome home;
    std::string fingerprint;
    std::string keyId;
    std::string publicKey;
};

struct Reply
{
    int status = 0;
    std::string body;
};

Reply Post(int port, const char* path, const httplib::Params& form)
{
    httplib::Client client("127.0.0.1", port);
    client.set_read_timeout(30);
    const httplib::Result result = client.Post(path, form);
    return result ? Reply{result->status, result->body} : Reply{0, "(no answer)"};
}

class ManagerProgramTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(manager.Started());
        ASSERT_EQ(manager.Fingerprint().size(), 40u);
        ASSERT_EQ(radio.keyId.size(), 8u);
        radio.TrustServer(manager);
    }
    Reply RequestSettings(const RadioKey& key, const std::string& uid = std::string())
    {
        return Post(manager.RadioPort(), "/api/devconf/get",
                    {{"api_user", "020000000001"},
                     {"uid", uid.empty() ? key.fingerprint : uid},
                     {"kid", key.keyId},
                     {"type", "WRVX"}});
    }
    Reply UploadKey(const RadioKey& key)
    {
        return Post(manager.RadioPort(), "/api/initialize",
                    {{"api_user", "020000000001"},
                     {"fingerprint", key.fingerprint},
                     {"key_id", key.keyId},
                     {"public_key", key.publicKey}});
    }
    std::string Decrypt(const std::string& message) { return radio.Decrypt(message, manager.Fingerprint()); }

    ManagerProcess manager;
    RadioKey radio;
};

TEST_F(ManagerProgramTest, EnrolmentEndsInSettingsTheRadioAccepts)
{
    EXPECT_EQ(RequestSettings(radio).body, "PUBLIC_KEY_NEEDED");
    EXPECT_EQ(UploadKey(radio).body, "OK\n");
    EXPECT_EQ(RequestSettings(radio).body, "UNIT_NOT_YET_REGISTERED");
    EXPECT_EQ(manager.Run({"zone", "add", "3", "North"}).status, 0);
    EXPECT_EQ(manager.Run({"channel", "add", "301", "Dispatch", "--zone", "3"}).status, 0);
    EXPECT_EQ(manager.Run({"register", radio.keyId, "--name", "Boat 7", "--account", "Harbour"}).status, 0);

    const std::string reply = RequestSettings(radio).body;
    ASSERT_EQ(reply.rfind("-----BEGIN PGP MESSAGE-----", 0), 0u) << reply;
    const std::string document = Decrypt(reply);
    EXPECT_NE(document.find("name=\"Boat 7\" accountName=\"Harbour\""), std::string::npos) << document;
    EXPECT_NE(document.find("<channel name=\"Dispatch\" num=\"301\" zone=\"North\" zone_num=\"3\"/>"),
              std::string::npos);
    // Unchanged settings come from the cache (the very same message); a
    // change makes a new one.
    EXPECT_EQ(RequestSettings(radio).body, reply);
    EXPECT_EQ(manager.Run({"rename", radio.keyId, "Boat 8"}).status, 0);
    const std::string renamed = RequestSettings(radio).body;
    EXPECT_NE(renamed, reply);
    EXPECT_NE(Decrypt(renamed).find("name=\"Boat 8\""), std::string::npos);
    // Another key with this key id is not the one the service holds.
    EXPECT_EQ(RequestSettings(radio, std::string(40, 'E')).body, "PUBLIC_KEY_NEEDED");

    // Unregistered: the word comes signed and encrypted, so the radio can
    // trust it and remove its settings.
    EXPECT_EQ(manager.Run({"unregister", radio.keyId}).status, 0);
    const std::string unregistration = RequestSettings(radio).body;
    ASSERT_EQ(unregistration.rfind("-----BEGIN PGP MESSAGE-----", 0), 0u) << unregistration;
    EXPECT_EQ(Decrypt(unregistration), "UNIT_NOT_YET_REGISTERED");

    const std::string units = manager.Run({"units"}).output;
    EXPECT_EQ(units.rfind(radio.keyId + "\tBoat 8\tHarbour\tno\t2", 0), 0u) << units;
}

TEST_F(ManagerProgramTest, UnusableKeyUploadsAreRefused)
{
    RadioKey other;
    const std::string twoKeys = radio.publicKey + other.publicKey;
    struct Case
    {
        const char* what;
        httplib::Params form;
    };
    const std::vector<Case> cases = {
        {"no key", {{"fingerprint", radio.fingerprint}, {"key_id", radio.keyId}, {"public_key", "garbage"}}},
        {"another key than the fingerprint says",
         {{"fingerprint", radio.fingerprint}, {"key_id", radio.keyId}, {"public_key", other.publicKey}}},
        {"key id not from the fingerprint",
         {{"fingerprint", radio.fingerprint}, {"key_id", other.keyId}, {"public_key", radio.publicKey}}},
        {"two keys at once", {{"fingerprint", radio.fingerprint}, {"key_id", radio.keyId}, {"public_key", twoKeys}}},
        {"no fingerprint", {{"key_id", radio.keyId}, {"public_key", radio.publicKey}}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Post(manager.RadioPort(), "/api/initialize", c.form).status, 400) << c.what;
    EXPECT_EQ(RequestSettings(radio).body, "PUBLIC_KEY_NEEDED");
    EXPECT_EQ(manager.Run({"units"}).output, "");
    EXPECT_EQ(Post(manager.RadioPort(), "/api/devconf/get", {{"kid", "0A1B2C3D;--"}}).status, 400);
    // A body over the radio listener's limit is refused whole.
    EXPECT_EQ(Post(manager.RadioPort(), "/api/initialize", {{"public_key", std::string(70000, 'k')}}).status, 413);

    // Another key already registered under this code is not taken over.
    const std::string registeredKey = std::string(32, 'B') + radio.keyId;
    {
        Manager::Store store(manager.DataFolder() + "/manager.db");
        store.storeUnitKey(radio.keyId, registeredKey, "the first key", "mac");
        store.registerUnit(radio.keyId, "First", "Fleet");
    }
    EXPECT_EQ(UploadKey(radio).status, 403);
    EXPECT_EQ(Manager::Store(manager.DataFolder() + "/manager.db").unitKey(radio.keyId)->fingerprint, registeredKey);
    EXPECT_EQ(RequestSettings(radio).body, "PUBLIC_KEY_NEEDED");
    // --data also after the command.
    EXPECT_EQ(ManagementCommon::RunProgram({ManagerProcess::Program(), "units", "--data", manager.DataFolder()}, "")
                  .output,
              radio.keyId + "\tFirst\tFleet\tyes\tnever\n");
}

TEST_F(ManagerProgramTest, LocationPostsAreTakenStrictlyFromKnownUnits)
{
    ASSERT_EQ(UploadKey(radio).body, "OK\n");
    struct Case
    {
        std::string kid, lat, lon, ts;
        int status;
    };
    const std::vector<Case> cases = {
        {"0BADF00D", "45.50000000", "-122.25000000", "7", 404},  // no such unit: nothing is made up
        {radio.keyId, "45.5\n", "-122.25", "7", 400},
        {radio.keyId, "45.5x", "-122.25", "7", 400},
        {radio.keyId, "4.55e1", "-122.25", "7", 400},
        {radio.keyId, " 45.5", "-122.25", "7", 400},
        {radio.keyId, "45,5", "-122.25", "7", 400},
        {radio.keyId, "91.0", "-122.25", "7", 400},
        {radio.keyId, "45.5", "", "7", 400},
        {radio.keyId, "45.5", "-122.25", "7 ", 400},
        {radio.keyId, "45.50000000", "-122.25000000", "1700000000", 200},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Post(manager.RadioPort(), "/index.php/api/location/put",
                       {{"kid", c.kid}, {"lat", c.lat}, {"lon", c.lon}, {"ts", c.ts}})
                      .status,
                  c.status)
            << c.kid << " " << c.lat << " " << c.lon << " " << c.ts;
    Manager::Store store(manager.DataFolder() + "/manager.db");
    const std::optional<Manager::UnitRecord> unit = store.unit(radio.keyId);
    ASSERT_TRUE(unit && unit->lastPosition);
    EXPECT_DOUBLE_EQ(unit->lastPosition->latitude, 45.5);
    EXPECT_EQ(unit->lastPosition->time, 1700000000);
    EXPECT_FALSE(store.unit("0BADF00D"));

    // Demo talk groups only while the switch is on.
    manager.Run({"zone", "add", "1", "Demo zone"});
    manager.Run({"channel", "add", "901", "Demo 1", "--zone", "1"});
    EXPECT_EQ(Post(manager.RadioPort(), "/index.php/api/demo", {}).body, "");
    manager.Run({"set", "demo-channels", "on"});
    EXPECT_NE(Post(manager.RadioPort(), "/index.php/api/demo", {}).body.find("<channel name=\"Demo 1\" num=\"901\""),
              std::string::npos);
}

TEST_F(ManagerProgramTest, ListingLinesCannotBeForgedByStoredNames)
{
    {
        Manager::Store store(manager.DataFolder() + "/manager.db");
        store.storeUnitKey("0000000A", std::string(32, 'A') + "0000000A", "key", "mac");
        store.storeUnitKey("0000000B", std::string(32, 'A') + "0000000B", "key", "mac");
    }
    EXPECT_EQ(manager.Run({"register", "0000000A", "--name", "Evil\n0000000C\tforged\tyes", "--account",
                           "Tab\there\\"})
                  .status,
              0);
    const std::string listing = manager.Run({"units"}).output;
    EXPECT_EQ(listing, "0000000A\tEvil\\n0000000C\\tforged\\tyes\tTab\\there\\\\\tyes\tnever\n"
                       "0000000B\t0000000B\t\tno\tnever\n");
    // A console password from a script.
    const ManagerProcess::Result set =
        ManagerProcess::Result(manager.Run({"set-password", "--password-stdin"}, "correct horse\n"));
    EXPECT_EQ(set.status, 0) << set.output;
    EXPECT_EQ(Manager::Store(manager.DataFolder() + "/manager.db").adminPasswordHash().rfind("$argon2id$", 0), 0u);
    EXPECT_EQ(manager.Run({"register", "0000000Z"}).status, 1);
    EXPECT_EQ(manager.Run({"set", "codec", "G.729"}).status, 1);
    EXPECT_EQ(manager.Run({"no-such-command"}).status, 2);
}

TEST_F(ManagerProgramTest, OneServingProcessPerDataFolder)
{
    const ManagerProcess::Result second = manager.Run({"serve", "--listen", "127.0.0.1:0", "--admin-listen", "127.0.0.1:0"});
    EXPECT_EQ(second.status, 1);
    EXPECT_EQ(second.output, "");  // the reason goes to standard error
    EXPECT_EQ(Post(manager.RadioPort(), "/api/devconf/get", {{"kid", "0A1B2C3D"}}).body, "PUBLIC_KEY_NEEDED");
}

TEST_F(ManagerProgramTest, BackupWhileServingRestoresTheFleetAndTheKey)
{
    ASSERT_EQ(UploadKey(radio).body, "OK\n");
    ASSERT_EQ(manager.Run({"register", radio.keyId, "--account", "Harbour"}).status, 0);
    const std::string backup = manager.DataFolder() + "/copy.db";
    ASSERT_EQ(manager.Run({"backup", backup}).status, 0);
    EXPECT_EQ(manager.Run({"backup", backup}).status, 1);  // never over an existing file

    char pattern[] = "/tmp/mgr.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    std::filesystem::copy_file(backup, std::string(pattern) + "/manager.db");
    {
        ManagerProcess restored({}, pattern);
        ASSERT_TRUE(restored.Started());
        EXPECT_EQ(restored.Fingerprint(), manager.Fingerprint());
        const Reply reply = Post(restored.RadioPort(), "/api/devconf/get",
                                 {{"uid", radio.fingerprint}, {"kid", radio.keyId}, {"api_user", "x"}});
        EXPECT_NE(Decrypt(reply.body).find("accountName=\"Harbour\""), std::string::npos) << reply.body;
    }
    std::filesystem::remove_all(pattern);
}

TEST_F(ManagerProgramTest, NoticesGoThroughTheRelayAndWaitWhileItIsDown)
{
    rvx::test::RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    manager.Stop();
    ManagerProcess notifying({"--relay-control", relay.ControlSocket(), "--relay-control", "/nonexistent/control"},
                             manager.DataFolder());
    ASSERT_TRUE(notifying.Started());
    {
        Manager::Store store(manager.DataFolder() + "/manager.db");
        store.storeUnitKey("0000000A", std::string(32, 'A') + "0000000A", "key", "mac");
    }
    ASSERT_EQ(notifying.Run({"register", "0000000A"}).status, 0);
    // The relay answers, but the unit is not connected to it: tried again later.
    std::string state;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (std::chrono::steady_clock::now() < deadline) {
        state = Manager::Store(manager.DataFolder() + "/manager.db").unit("0000000A")->pushState;
        if (state != "queued")
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    EXPECT_EQ(state, "failed: not connected to a relay");
    EXPECT_EQ(Manager::Store(manager.DataFolder() + "/manager.db").pendingPushCount(), 1u);
    notifying.Stop();
    manager.Start();
}

TEST(ManagerDataFolderTest, LongDataFolderPathsStillReachGpg)
{
    char pattern[] = "/tmp/mgr.XXXXXX";
    ASSERT_TRUE(::mkdtemp(pattern));
    const std::string folder = std::string(pattern) + "/" + std::string(60, 'd') + "/" + std::string(60, 'e');
    {
        ManagerProcess manager({}, folder);
        ASSERT_TRUE(manager.Started());
        EXPECT_EQ(manager.Run({"fingerprint"}).output, manager.Fingerprint() + "\n");
    }
    std::filesystem::remove_all(pattern);
}

} // namespace
