// Tests of the device key's life cycle against the real gpg, each in its own
// GnuPG home and per-user folder, and of the key helpers.
#include "DeviceIdentity.h"
#include "KeyManagementAgent.h"
#include "ManagementService.h"

#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "MountNamespace.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <QUrlQuery>

#include <cstdlib>
#include <mutex>

namespace {

using rvx::test::LocalHttpServer;
using rvx::test::LogCapture;
using rvx::test::TemporaryGnupgHome;

const char* const kFlags = "ENABLE_KEY_GENERATION_DEBUG\n";

std::size_t countLines(const std::string& text, const std::string& prefix)
{
    std::size_t count = 0;
    for (std::size_t at = 0; at < text.size();) {
        const std::size_t end = text.find('\n', at);
        if (text.compare(at, prefix.size(), prefix) == 0)
            ++count;
        at = end == std::string::npos ? text.size() : end + 1;
    }
    return count;
}

class KeyManagementAgentTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.Valid());
        ASSERT_TRUE(appData.isValid());
    }
    KeyManagementAgent::Places places() const
    {
        KeyManagementAgent::Places result = KeyManagementAgent::Places::standard();
        result.appDataFolder = appData.path() + "/Talkbox/";
        result.serverKeyPath = RVX_TEST_SERVER_KEY;
        return result;
    }
    std::string deviceKeyListing() const { return home.Gpg("--with-colons --list-keys IDRVX4400W"); }

    TemporaryGnupgHome home;
    QTemporaryDir appData;
};

TEST_F(KeyManagementAgentTest, FirstStartMakesOneKeyWithASecondUserIdAndExportsIt)
{
    LogCapture log(kFlags);
    KeyManagementAgent agent(places());

    EXPECT_EQ(log.Count("Command: --batch --gen-key"), 1u);
    EXPECT_EQ(log.Count("Attempting to export public key"), 2u);
    const std::string listing = deviceKeyListing();
    EXPECT_EQ(countLines(listing, "pub:"), 1u) << listing;
    EXPECT_EQ(countLines(listing, "uid:"), 2u) << listing;

    const std::string keyId = agent.myPublicKeyId();
    ASSERT_EQ(keyId.size(), 8u);
    EXPECT_NE(listing.find("ID" + keyId + " (N/A) <ID" + keyId + "@" + managementMailDomain() + ">"), std::string::npos);
    EXPECT_EQ(agent.clientPublicKey().rfind("-----BEGIN PGP PUBLIC KEY BLOCK-----", 0), 0u);
    EXPECT_EQ(getDeviceId(), keyIdToDeviceId(keyId.c_str()));
}

TEST_F(KeyManagementAgentTest, KeyIsMadeWithoutPassphraseAndNeverExpires)
{
    KeyManagementAgent agent(places());
    const std::string listing = deviceKeyListing();
    const std::size_t pub = listing.find("pub:");
    ASSERT_NE(pub, std::string::npos);
    // Field 7 (expiry) of the pub record is empty; field 3 is the key length.
    std::vector<std::string> fields;
    for (std::size_t at = pub; fields.size() < 8;) {
        const std::size_t colon = listing.find(':', at);
        fields.push_back(listing.substr(at, colon - at));
        at = colon + 1;
    }
    EXPECT_EQ(fields[2], "2048");
    EXPECT_EQ(fields[6], "");
    // Decrypting something sent to the key needs no passphrase.
    const std::string sealed = home.Gpg("--trust-model always --armor -e -r IDRVX4400W", "secret text");
    EXPECT_EQ(home.Gpg("-d", sealed), "secret text");
}

TEST_F(KeyManagementAgentTest, SecondStartMakesNoKeyAndKeepsTheIdentity)
{
    std::string firstFingerprint;
    {
        KeyManagementAgent first(places());
        firstFingerprint = first.myPublicKeyFingerprint();
    }
    LogCapture log(kFlags);
    KeyManagementAgent second(places());

    EXPECT_EQ(log.Count("Command: --batch --gen-key"), 0u);
    EXPECT_EQ(log.Count("Attempting to export public key"), 1u);
    EXPECT_EQ(second.myPublicKeyFingerprint(), firstFingerprint);
    EXPECT_EQ(countLines(deviceKeyListing(), "pub:"), 1u);
    EXPECT_TRUE(QFile::exists(second.clientKeyPath()));
}

// The key ring may be the user's own: the server key is imported, but its
// owner trust is never set (settings are checked by its pinned fingerprint).
// A data folder that cannot be written (a read-only disk) makes every
// export fail; the unit keeps its key instead of making a new one each start.
TEST_F(KeyManagementAgentTest, ReadOnlyDataFolderKeepsTheExistingKey)
{
    std::string fingerprint;
    {
        KeyManagementAgent first(places());
        fingerprint = first.myPublicKeyFingerprint();
        ASSERT_TRUE(QFile::remove(first.clientKeyPath()));
    }
    const std::string folder = (appData.path() + "/Talkbox").toStdString();
    RVX_IN_PRIVATE_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(rvx::test::MountReadOnly(folder));
        for (int start = 0; start < 2; ++start) {
            LogCapture log(kFlags);
            KeyManagementAgent again(places());
            EXPECT_EQ(log.Count("Command: --batch --gen-key"), 0u) << "start " << start;
            EXPECT_TRUE(log.Contains("Unable to export the device key")) << "start " << start;
            EXPECT_EQ(again.myPublicKeyFingerprint(), fingerprint) << "start " << start;
        }
    });
    EXPECT_EQ(countLines(home.Gpg("--with-colons --list-secret-keys IDRVX4400W"), "sec:"), 1u);
}

TEST_F(KeyManagementAgentTest, ServerKeyIsImportedWithoutOwnerTrust)
{
    KeyManagementAgent agent(places());
    const std::string trust = home.Gpg("--export-ownertrust");
    EXPECT_EQ(trust.find(serverKeyFingerprint()), std::string::npos) << trust;
    EXPECT_NE(home.Gpg("--with-colons --list-keys " + serverKeyFingerprint()).find("pub:"), std::string::npos);
}

TEST_F(KeyManagementAgentTest, MissingGpgLeavesNoKeyAndDeviceIdZero)
{
    LogCapture log;
    KeyManagementAgent::Places noGpg = places();
    noGpg.gpgPath.clear();
    KeyManagementAgent agent(noGpg);

    EXPECT_FALSE(agent.gpgExists());
    EXPECT_EQ(agent.runGpg({"--version"}), QByteArray("Unable to locate gpg executable."));
    EXPECT_FALSE(QFile::exists(agent.clientKeyPath()));
    try {
        agent.myPublicKeyFingerprint();
        FAIL() << "no error raised";
    } catch (const std::runtime_error& error) {
        EXPECT_STREQ(error.what(), "Unable to find my public key fingerprint");
    }
    EXPECT_EQ(getDeviceId(), 0u);
}

// A listing whose fingerprint is cut short gives no key id; the failure and
// the (empty) id are both reported.
TEST_F(KeyManagementAgentTest, ShortFingerprintGivesNoKeyIdAndSaysSo)
{
    const QString fakeGpg = appData.filePath("gpg");
    QFile script(fakeGpg);
    ASSERT_TRUE(script.open(QIODevice::WriteOnly));
    script.write("#!/bin/sh\ncase \"$*\" in *--list-keys*) printf 'fpr:::::::::ABCD' ;; esac\nexit 0\n");
    script.close();
    script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
    KeyManagementAgent::Places shortListing = places();
    shortListing.gpgPath = fakeGpg;
    LogCapture log;
    KeyManagementAgent agent(shortListing);

    EXPECT_EQ(agent.myPublicKeyId(), "");
    EXPECT_TRUE(log.Contains("Problem in myPublicKeyId():  myPublicKeyFingerprint() returned: ABCD\n")) << log.Text();
    EXPECT_TRUE(log.Contains("My key ID: \n")) << log.Text();
}

TEST_F(KeyManagementAgentTest, PostKeysUploadsTheExportedKeyInOrder)
{
    LocalHttpServer server;
    std::mutex mutex;
    std::string path, body;
    server.Server().Post(".*", [&](const httplib::Request& request, httplib::Response& response) {
        std::lock_guard<std::mutex> lock(mutex);
        path = request.path;
        body = request.body;
        response.set_content("OK", "text/plain");
    });
    ASSERT_TRUE(server.Start());
    ::setenv(kWebManagementUrlVariable, server.Url().c_str(), 1);
    KeyManagementAgent agent(places());

    agent.postKeys();
    ::unsetenv(kWebManagementUrlVariable);

    std::lock_guard<std::mutex> lock(mutex);
    EXPECT_EQ(path, "/api/initialize");
    const std::string expectedStart = "&fingerprint=" + agent.myPublicKeyFingerprint() + "&key_id=" + agent.myPublicKeyId() + "&public_key=";
    EXPECT_EQ(body.rfind("api_user=", 0), 0u);
    EXPECT_NE(body.find(expectedStart), std::string::npos) << body;
    const std::string encodedKey = body.substr(body.find("&public_key=") + 12);
    EXPECT_EQ(QByteArray::fromPercentEncoding(QByteArray::fromStdString(encodedKey)).toStdString(), agent.clientPublicKey());
}

TEST(FingerprintParsingTest, ColonListingsGiveTheFirstFingerprintOrAnError)
{
    const std::string fpr = "0123456789ABCDEF0123456789ABCDEF01234567";
    EXPECT_EQ(KeyManagementAgent::fingerprintFromColonListing("pub:u:2048:1:X:::::\nfpr:::::::::" + fpr + ":\nfpr:::::::::" +
                                                              std::string(40, 'F') + ":\n"),
              fpr);
    EXPECT_EQ(KeyManagementAgent::fingerprintFromColonListing("fpr:::::::::ABCD"), "ABCD");

    struct Failure
    {
        std::string listing;
        const char* message;
    };
    const Failure failures[] = {
        {"", "Unable to find my public key fingerprint"},
        {"Unable to locate gpg executable.", "Unable to find my public key fingerprint"},
        {"pub:u:2048\nfpr:::::::::", "Unable to determine my public key fingerprint"},
    };
    for (const Failure& failure : failures) {
        try {
            KeyManagementAgent::fingerprintFromColonListing(failure.listing);
            ADD_FAILURE() << failure.listing;
        } catch (const std::runtime_error& error) {
            EXPECT_STREQ(error.what(), failure.message) << failure.listing;
        }
    }
}

TEST(UrlEncodeTest, OnlyLettersDigitsAndSixMarksStayAsTheyAre)
{
    const std::pair<std::string, std::string> table[] = {
        {"abc", "abc"},
        {"a b-c", "a%20b%2dc"},
        {"AZaz09!*()'~", "AZaz09!*()'~"},
        {"line\nend\r\n", "line%0aend%0d%0a"},
        {"+/=._", "%2b%2f%3d%2e%5f"},
        {"\xE9\xFF", "%e9%ff"},
        {"", ""},
    };
    for (const auto& [text, encoded] : table)
        EXPECT_EQ(KeyManagementAgent::urlEncode(text), encoded) << text;
}

// Where the radio goes and whose key it trusts: the environment before the
// local setting before the build's default. A fingerprint that was set but
// is none pins nothing at all, never the build's default in its place.
TEST(ServiceSettingsTest, EnvironmentThenLocalSettingThenBuildDefault)
{
    struct Case
    {
        const char* name;
        const char* urlVariable;  // nullptr: unset
        std::string urlSetting;
        std::string url;  // managementServiceUrl("/api/devconf/get")
        const char* fingerprintVariable;
        std::string fingerprintSetting;
        std::string fingerprint;  // pinned; empty: none
        std::string origin;
    };
    const std::string path = "/api/devconf/get";
    const std::string fleet = "http://fleet.example.org:8480";
    const std::string operatorKey = "0123456789ABCDEF0123456789ABCDEF01234567";
    const std::string otherKey = "FEDCBA9876543210FEDCBA9876543210FEDCBA98";
    const std::string typedKey = " 0123 4567 89ab cdef 0123  4567 89AB CDEF 0123 4567 ";
    const Case cases[] = {
        {"nothing set", nullptr, "", defaultManagementServiceUrl() + path, nullptr, "", defaultServerKeyFingerprint(),
         "build default"},
        {"local settings", nullptr, fleet + "/", fleet + path, nullptr, typedKey, operatorKey, "server_fingerprint"},
        {"blanks around the setting", nullptr, " " + fleet + " ", fleet + path, nullptr, operatorKey, operatorKey,
         "server_fingerprint"},
        {"environment over settings", "http://127.0.0.1:9000", fleet, "http://127.0.0.1:9000" + path, otherKey.c_str(),
         operatorKey, otherKey, "RVX4400_SERVER_FINGERPRINT"},
        {"empty environment", "", fleet, fleet + path, "", operatorKey, operatorKey, "server_fingerprint"},
        {"setting too short", nullptr, "", defaultManagementServiceUrl() + path, nullptr, "0123456789ABCDEF", "",
         "server_fingerprint"},
        {"setting not hexadecimal", nullptr, "", defaultManagementServiceUrl() + path, nullptr,
         "0123456789ABCDEF0123456789ABCDEF0123456G", "", "server_fingerprint"},
        {"setting too long", nullptr, "", defaultManagementServiceUrl() + path, nullptr, operatorKey + "0", "",
         "server_fingerprint"},
        {"malformed environment over a good setting", nullptr, "", defaultManagementServiceUrl() + path, "not a key",
         operatorKey, "", "RVX4400_SERVER_FINGERPRINT"},
    };
    const auto setVariable = [](const char* name, const char* value) {
        value ? ::setenv(name, value, 1) : ::unsetenv(name);
    };
    for (const Case& test : cases) {
        setVariable(kWebManagementUrlVariable, test.urlVariable);
        setVariable(kServerFingerprintVariable, test.fingerprintVariable);
        useLocalServiceSettings({test.urlSetting, test.fingerprintSetting});
        EXPECT_EQ(managementServiceUrl(path), test.url) << test.name;
        const ServerKeyPin pin = serverKeyPin();
        EXPECT_EQ(pin.fingerprint, test.fingerprint) << test.name;
        EXPECT_EQ(serverKeyFingerprint(), test.fingerprint) << test.name;
        EXPECT_EQ(pin.origin, test.origin) << test.name;
        EXPECT_EQ(pin.problem.empty(), !test.fingerprint.empty()) << test.name;
        if (!pin.problem.empty()) {
            EXPECT_NE(pin.problem.find("not 40 hexadecimal digits"), std::string::npos) << pin.problem;
            LogCapture log;
            logServiceChoice();
            EXPECT_TRUE(log.Contains("Server key: " + pin.problem + "\n")) << log.Text();
        }
    }
    ::unsetenv(kWebManagementUrlVariable);
    ::unsetenv(kServerFingerprintVariable);
    useLocalServiceSettings({});

    // An operator's address replaces the staging host as well.
    LogCapture staging("USE_WEBMANAGEMENT_STAGING_SERVER\n");
    EXPECT_NE(managementServiceUrl(path), fleet + path);
    useLocalServiceSettings({fleet, ""});
    EXPECT_EQ(managementServiceUrl(path), fleet + path);
    useLocalServiceSettings({});
}

} // namespace
