// Tests of settings retrieval and enrolment against the real gpg and the
// management-service simulator (or a local server for odd replies), each in
// its own GnuPG home and per-user folder.
#include "KeyManagementAgent.h"
#include "MacAddress.h"
#include "ManagementService.h"
#include "ServerKeyFetch.h"
#include "SettingsFileRetrievalAgent.h"
#include "wGet_control.h"

#include "LocalHttpServer.h"
#include "LogCapture.h"
#include "ManagementSimProcess.h"
#include "MountNamespace.h"
#include "ProcessMemory.h"
#include "TemporaryGnupgHome.h"
#include "TemporarySettings.h"
#include "WorkerLoopRun.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <cstdlib>
#include <functional>
#include <mutex>
#include <vector>

namespace {

using Status = SettingsFileRetrievalAgent::Status;
using rvx::test::LocalHttpServer;
using rvx::test::LogCapture;
using rvx::test::ManagementSimProcess;
using rvx::test::PeakMemory;
using rvx::test::PeakMemoryAfterReset;
using rvx::test::TemporaryGnupgHome;
using rvx::test::TemporarySettings;

const SettingsFileRetrievalAgent::Timings kShortTimings{20, 100000, 300};

// Signals of the agent as the main thread receives them, with the time.
struct SignalRecord
{
    explicit SignalRecord(SettingsFileRetrievalAgent& agent)
    {
        clock.start();
        QObject::connect(&agent, &SettingsFileRetrievalAgent::coRegistrationCode, &context,
                         [this](const QString& code) { codes << code; });
        QObject::connect(&agent, &SettingsFileRetrievalAgent::coUpdatedSettingsNotification, &context,
                         [this](const QString& message) {
                             notices << message;
                             noticeAt = clock.elapsed();
                         });
        QObject::connect(&agent, &SettingsFileRetrievalAgent::coForceUpdatedSettingsRestart, &context, [this] {
            ++restarts;
            restartAt = clock.elapsed();
        });
        QObject::connect(&agent, &SettingsFileRetrievalAgent::settingsFileRetrievalStatusUpdated, &context,
                         [this] { ++checks; });
    }
    QObject context;
    QElapsedTimer clock;
    QStringList codes, notices;
    int restarts = 0;
    int checks = 0;
    qint64 noticeAt = -1, restartAt = -1;
};

// The agent's endless loop on a thread of its own until the end of a scope.
struct WorkerRun : rvx::test::WorkerLoopRun<SettingsFileRetrievalAgent>
{
    explicit WorkerRun(SettingsFileRetrievalAgent& agent)
        : WorkerLoopRun(agent, &SettingsFileRetrievalAgent::worker_thread)
    {
    }
};

class SettingsRetrievalTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.Valid());
        ASSERT_TRUE(appData.isValid());
        wGetSetWaitLimit(40, 50);
        StartRadio();
    }
    void TearDown() override
    {
        ::unsetenv(kWebManagementUrlVariable);
        useLocalServiceSettings({});
        wGetResetLimits();
    }
    // The agents as a (re)started radio makes them, pinning the server key
    // the settings choose.
    void StartRadio()
    {
        agent.reset();
        keys.reset();
        KeyManagementAgent::Places places = KeyManagementAgent::Places::standard();
        places.appDataFolder = appData.path() + "/Talkbox/";
        places.serverKeyPath = RVX_TEST_SERVER_KEY;
        keys = std::make_unique<KeyManagementAgent>(places);
        agent = std::make_unique<SettingsFileRetrievalAgent>(
            *keys, SettingsFileRetrievalAgent::Flags{registered, pushed});
        agent->setTimings(kShortTimings);
    }
    void UseService(const std::string& baseUrl) { ::setenv(kWebManagementUrlVariable, baseUrl.c_str(), 1); }
    QByteArray Cache() const
    {
        QFile file(agent->cachePath());
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void WriteCache(const std::string& text) { agent->writeSettingsFile(text, agent->cachePath()); }
    // Encrypts the document to the device key with extra gpg options.
    std::string Sealed(const std::string& document, const std::string& options)
    {
        return home.Gpg("--trust-model always --armor -r IDRVX4400W " + options + " -e", document);
    }
    // Makes the service's secret key available for signing in this home.
    void ImportServerSecretKey() { home.Gpg("--import '" RVX_TEST_SERVER_SECRET_KEY "'"); }

    // An operator's own key pair, made in this home and then removed from
    // it, so that the unit does not know it: its secret half in a file for
    // the simulator, its public half served alone and together with the
    // shipped test key.
    struct OperatorKey
    {
        std::string fingerprint, secretKeyFile, publicKey, publicKeyWithAnother;
    };
    OperatorKey MakeOperatorKey()
    {
        home.Gpg("--gen-key", "Key-Type:RSA\nKey-Length:2048\nName-Real:Fleet Operator\n%no-protection\n%commit\n");
        const std::string listing = home.Gpg("--with-colons --fingerprint 'Fleet Operator'");
        OperatorKey key;
        key.fingerprint = listing.substr(listing.find("fpr:::::::::") + 12, 40);
        key.publicKey = home.Gpg("--armor --export " + key.fingerprint);
        key.publicKeyWithAnother = home.Gpg("--armor --export " + key.fingerprint + " " + serverKeyFingerprint());
        key.secretKeyFile = appData.filePath("operator-secret.asc").toStdString();
        home.Gpg("--armor --output '" + key.secretKeyFile + "' --export-secret-keys " + key.fingerprint);
        home.Gpg("--yes --delete-secret-and-public-key " + key.fingerprint);
        return key;
    }

    TemporaryGnupgHome home;
    QTemporaryDir appData;
    std::atomic<bool> registered{false};
    std::atomic<bool> pushed{false};
    std::unique_ptr<KeyManagementAgent> keys;
    std::unique_ptr<SettingsFileRetrievalAgent> agent;
};

TEST_F(SettingsRetrievalTest, EnrolmentStoryAgainstTheSimulator)
{
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());
    UseService(sim.BaseUrl());
    SignalRecord record(*agent);
    LogCapture log("ENABLE_SETTINGSFILE_DEBUG\n");
    const std::string code = keys->myPublicKeyId();

    // Unknown key: posted, then the unit is not registered yet.
    EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kNotYetRegistered);
    EXPECT_TRUE(log.Contains("Calling postKeys()"));
    QTest::qWait(50);
    EXPECT_EQ(record.codes, QStringList{QString::fromStdString(code)});
    const std::string rule(53, '=');
    EXPECT_TRUE(log.Contains("\n\n" + rule + "\n==== This unit is not yet registered!            ====\n"
                             "==== Please register it on the service web site  ====\n"));
    EXPECT_TRUE(log.Contains("\n==== Registration code: " + code + "                 ====\n"
                             "==== Then cycle power to complete registration.  ====\n" + rule + "\n\n"));
    EXPECT_FALSE(QFile::exists(agent->cachePath()));

    // Registered: the settings are stored encrypted, exactly as received.
    EXPECT_EQ(sim.Admin({"register", code, "Harbour Patrol"}), "OK\n");
    EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kNewSettingsStored);
    EXPECT_TRUE(SettingsFileRetrievalAgent::isRetrievalOk());
    EXPECT_TRUE(Cache().startsWith("-----BEGIN PGP MESSAGE-----"));
    EXPECT_NE(agent->readCachedSettings().find("accountName=\"Harbour Patrol\""), std::string::npos);
    EXPECT_TRUE(registered);

    // Same settings again (a new encryption of the same document): nothing written.
    const QByteArray stored = Cache();
    log.Clear();
    EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kSettingsUnchanged);
    EXPECT_EQ(Cache(), stored);
    EXPECT_FALSE(log.Contains("(Updating the cache...)"));

    // Unregistered while a cache exists: the worker deletes it and asks for
    // a restart after the delay.
    EXPECT_EQ(sim.Admin({"unregister", code}), "OK\n");
    {
        WorkerRun worker(*agent);
        EXPECT_TRUE(QTest::qWaitFor([&] { return record.restarts > 0; }, 10000));
    }
    EXPECT_FALSE(QFile::exists(agent->cachePath()));
    EXPECT_EQ(record.notices.value(0), "Device has been unregistered.  Restarting...");
    EXPECT_GE(record.restartAt - record.noticeAt, kShortTimings.restartDelayMs - 20);
}

TEST_F(SettingsRetrievalTest, NewSettingsInTheWorkerAnnounceARestart)
{
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());
    UseService(sim.BaseUrl());
    agent->updateSettingsIfPossible();
    sim.Admin({"register", keys->myPublicKeyId(), "Acct"});
    SignalRecord record(*agent);
    {
        WorkerRun worker(*agent);
        EXPECT_TRUE(QTest::qWaitFor([&] { return record.restarts > 0; }, 10000));
    }
    EXPECT_EQ(record.notices, QStringList{"Updated settings detected.  Restarting..."});
    EXPECT_TRUE(Cache().startsWith("-----BEGIN PGP MESSAGE-----"));
}

// A local service that answers the settings path from a list of replies
// (the last one repeated) and records every path asked for.
class ScriptedService
{
public:
    explicit ScriptedService(std::vector<std::string> replies) : replies_(std::move(replies))
    {
        server_.Server().Post(".*", [this](const httplib::Request& request, httplib::Response& response) {
            std::lock_guard<std::mutex> lock(mutex_);
            paths_.push_back(request.path);
            bodies_.push_back(request.body);
            std::string reply = "OK";
            if (request.path == "/api/devconf/get") {
                reply = replies_[std::min(next_, replies_.size() - 1)];
                ++next_;
            }
            response.set_content(reply, "text/html");
        });
        server_.Start();
    }
    std::string Url() const { return server_.Url(); }
    std::vector<std::string> Paths()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return paths_;
    }
    std::vector<std::string> Bodies()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return bodies_;
    }
    std::size_t SettingsRequests()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        return next_;
    }

private:
    LocalHttpServer server_;
    std::mutex mutex_;
    std::vector<std::string> replies_;
    std::vector<std::string> paths_, bodies_;
    std::size_t next_ = 0;
};

TEST_F(SettingsRetrievalTest, StatusWordsAndInvalidReplies)
{
    struct Case
    {
        const char* name;
        std::vector<std::string> replies;
        Status status;
        std::vector<std::string> paths;
    };
    const std::string get = "/api/devconf/get", post = "/api/initialize";
    const Case cases[] = {
        {"HTML error page with status 200", {"<html><body>Internal error</body></html>"}, Status::kInvalidReply, {get}},
        {"empty reply", {""}, Status::kInvalidReply, {get}},
        // A status word counts only as the whole reply, blanks around it aside.
        {"status word inside a page", {"<p>UNIT_NOT_YET_REGISTERED</p>"}, Status::kInvalidReply, {get}},
        {"both words in one reply",
         {"PUBLIC_KEY_NEEDED UNIT_NOT_YET_REGISTERED", "UNIT_NOT_YET_REGISTERED"},
         Status::kInvalidReply,
         {get}},
        {"status word between line ends", {"\r\n UNIT_NOT_YET_REGISTERED\r\n"}, Status::kNotYetRegistered, {get}},
        {"key posted, then not registered",
         {"PUBLIC_KEY_NEEDED\n", "UNIT_NOT_YET_REGISTERED"},
         Status::kNotYetRegistered,
         {get, post, get, get}},
        {"key still needed after posting", {"PUBLIC_KEY_NEEDED"}, Status::kKeyStillNeeded, {get, post, get}},
    };
    for (const Case& test : cases) {
        ScriptedService service(test.replies);
        UseService(service.Url());
        EXPECT_EQ(agent->updateSettingsIfPossible(), test.status) << test.name;
        EXPECT_EQ(SettingsFileRetrievalAgent::retrievalStatus(), test.status) << test.name;
        EXPECT_EQ(service.Paths(), test.paths) << test.name;
        EXPECT_FALSE(QFile::exists(agent->cachePath())) << test.name;
    }
}

TEST_F(SettingsRetrievalTest, RequestCarriesTheUnitsIdentityInOrder)
{
    ScriptedService service({"UNIT_NOT_YET_REGISTERED"});
    UseService(service.Url());
    agent->requestSettings();
    const std::string body = service.Bodies().at(0);
    EXPECT_EQ(body.rfind("api_user=", 0), 0u);
    EXPECT_NE(body.find("&uid=" + keys->myPublicKeyFingerprint() + "&kid=" + keys->myPublicKeyId() + "&type=WRVX"),
              std::string::npos)
        << body;
}

// Settings messages that must never replace a working cache.
TEST_F(SettingsRetrievalTest, MessagesThatDoNotDecryptCleanlyAreInvalidAndKeepTheCache)
{
    ImportServerSecretKey();
    const std::string serverSigned = "--local-user " + serverKeyFingerprint() + " --sign";
    const std::string good = Sealed("<Settings name=\"good\"/>", serverSigned);
    WriteCache(good);
    ASSERT_EQ(agent->readCachedSettings(), "<Settings name=\"good\"/>");

    home.Gpg("--gen-key", "Key-Type:RSA\nKey-Length:2048\nName-Real:Foreign\n%no-protection\n%commit\n");
    const std::string foreignSigned = Sealed("<Settings name=\"foreign\"/>", "--local-user Foreign --sign");
    const std::string toAnotherKey =
        home.Gpg("--trust-model always --armor -r Foreign -e", "<Settings name=\"other\"/>");
    std::string tampered = Sealed("<Settings name=\"tampered\"/>", serverSigned);
    tampered[tampered.size() / 2] = tampered[tampered.size() / 2] == 'A' ? 'B' : 'A';
    std::string truncated = Sealed("<Settings name=\"truncated\"/>", serverSigned);
    truncated = truncated.substr(0, truncated.size() * 2 / 3) + "\n-----END PGP MESSAGE-----\n";
    std::string large;
    for (int line = 0; large.size() < 160000; ++line)
        large += "<channel name=\"" + std::to_string(line * 7919 % 100003) + "\"/>\n";
    const std::string tooLarge = Sealed(large, serverSigned + " --compress-algo none");
    ASSERT_GT(tooLarge.size(), 100000u);
    // The foreign key's secret half goes, so "toAnotherKey" cannot be read.
    const std::string listing = home.Gpg("--with-colons --fingerprint Foreign");
    home.Gpg("--yes --delete-secret-keys " + listing.substr(listing.find("fpr:::::::::") + 12, 40));

    const std::pair<const char*, std::string> cases[] = {
        {"signed by another key", foreignSigned}, {"encrypted to another key", toAnotherKey},
        {"manipulated", tampered},                {"truncated", truncated},
        {"larger than the cache limit", tooLarge},
    };
    for (const auto& [name, reply] : cases) {
        ASSERT_EQ(reply.rfind("-----BEGIN PGP MESSAGE-----", 0), 0u) << name;
        ScriptedService service({reply});
        UseService(service.Url());
        LogCapture log;
        EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kInvalidReply) << name;
        EXPECT_TRUE(log.Contains("Settings message refused: ")) << name;
        EXPECT_EQ(Cache().toStdString(), good) << name;
    }
    EXPECT_EQ(agent->readCachedSettings(), "<Settings name=\"good\"/>");
}

// Anyone can encrypt to the device key: unsigned settings are refused
// unless the local setting allows them, and then with a warning.
TEST_F(SettingsRetrievalTest, SettingsMustBeSignedByTheServerUnlessUnsignedOnesAreAllowed)
{
    ImportServerSecretKey();
    const std::string serverSigned = "--local-user " + serverKeyFingerprint() + " --sign";
    struct Case
    {
        const char* name;
        std::string reply;
        bool allowUnsigned;
        Status status;
        const char* logged;
    };
    const Case cases[] = {
        {"signed", Sealed("<Settings name=\"signed\"/>", serverSigned), false, Status::kNewSettingsStored,
         "(Updating the cache...)"},
        {"unsigned", Sealed("<Settings name=\"unsigned\"/>", ""), false, Status::kInvalidReply,
         "Settings message refused: it is not signed by the server key"},
        {"unsigned, allowed", Sealed("<Settings name=\"allowed\"/>", ""), true, Status::kNewSettingsStored,
         "Warning: the settings message is not signed; accepted because allow_unsigned_settings is set"},
        {"signed again", Sealed("<Settings name=\"allowed\"/>", serverSigned), true, Status::kSettingsUnchanged,
         "(Cache is already up to date...)"},
    };
    TemporarySettings localSettings;
    agent->useLocalSettings(&localSettings.store());
    std::string cached;
    for (const Case& test : cases) {
        localSettings->setValue("allow_unsigned_settings", test.allowUnsigned);
        ScriptedService service({test.reply});
        UseService(service.Url());
        LogCapture log;
        EXPECT_EQ(agent->updateSettingsIfPossible(), test.status) << test.name;
        EXPECT_TRUE(log.Contains("(Settings were validated....)")) << test.name;
        EXPECT_TRUE(log.Contains(test.logged)) << test.name << "\n" << log.Text();
        if (test.status == Status::kNewSettingsStored)
            cached = test.reply;
        EXPECT_EQ(Cache().toStdString(), cached) << test.name;
    }
}

// A registered unit keeps its settings whatever a plain (forgeable) reply
// says; only the service's signed unregistration removes them.
TEST_F(SettingsRetrievalTest, OnlyASignedUnregistrationRemovesTheCachedSettings)
{
    ImportServerSecretKey();
    const std::string serverSigned = "--local-user " + serverKeyFingerprint() + " --sign";
    const std::string good = Sealed("<Settings name=\"good\"/>", serverSigned);
    struct Case
    {
        const char* name;
        std::vector<std::string> replies;
        bool removed;
    };
    const Case cases[] = {
        {"plain status word", {"UNIT_NOT_YET_REGISTERED"}, false},
        {"plain key request", {"PUBLIC_KEY_NEEDED", "UNIT_NOT_YET_REGISTERED"}, false},
        {"status word encrypted, not signed", {Sealed("UNIT_NOT_YET_REGISTERED", "")}, false},
        {"status word signed by the server", {Sealed("UNIT_NOT_YET_REGISTERED\n", serverSigned)}, true},
    };
    for (const Case& test : cases) {
        WriteCache(good);
        ScriptedService service(test.replies);
        UseService(service.Url());
        SettingsFileRetrievalAgent caseAgent(*keys, SettingsFileRetrievalAgent::Flags{registered, pushed});
        caseAgent.setTimings(kShortTimings);
        SignalRecord record(caseAgent);
        {
            WorkerRun worker(caseAgent);
            ASSERT_TRUE(QTest::qWaitFor([&] { return record.checks > 0; }, 10000)) << test.name;
            const bool restarted =
                QTest::qWaitFor([&] { return record.restarts > 0; }, kShortTimings.restartDelayMs + 500);
            EXPECT_EQ(restarted, test.removed) << test.name;
        }
        EXPECT_EQ(QFile::exists(caseAgent.cachePath()), !test.removed) << test.name;
        EXPECT_EQ(record.restarts, test.removed ? 1 : 0) << test.name;
        if (test.removed) {
            EXPECT_EQ(record.notices, QStringList{"Device has been unregistered.  Restarting..."});
            EXPECT_EQ(record.codes, QStringList{QString::fromStdString(keys->myPublicKeyId())});
        } else {
            EXPECT_EQ(Cache().toStdString(), good) << test.name;
            EXPECT_TRUE(record.codes.isEmpty()) << test.name;
        }
    }
}

// A few hundred bytes can decompress to hundreds of megabytes: the
// decrypted text is bounded before it is stored, compared or parsed, for a
// reply and for the cache read at start-up alike.
TEST_F(SettingsRetrievalTest, DecompressionBombsAreRefusedWithBoundedMemory)
{
    ImportServerSecretKey();
    const std::string good = Sealed("<Settings name=\"good\"/>", "--local-user " + serverKeyFingerprint() + " --sign");
    const auto bomb = [this](const std::string& options) {
        return rvx::test::RunCommand("head -c 134217728 /dev/zero | gpg --homedir '" + home.Path() +
                                     "' --batch --no-tty --trust-model always --armor --compress-algo bzip2 "
                                     "--compress-level 9 -r IDRVX4400W " + options + " -e 2>/dev/null");
    };
    const std::string signedBomb = bomb("--local-user " + serverKeyFingerprint() + " --sign");
    const std::string unsignedBomb = bomb("");
    ASSERT_LT(signedBomb.size(), 2000u);
    ASSERT_LT(unsignedBomb.size(), 2000u);
    TemporarySettings localSettings;
    localSettings->setValue("allow_unsigned_settings", true);
    agent->useLocalSettings(&localSettings.store());

    const std::pair<const char*, std::string> replies[] = {{"signed", signedBomb}, {"unsigned", unsignedBomb}};
    for (const auto& [name, reply] : replies) {
        WriteCache(good);
        ScriptedService service({reply});
        UseService(service.Url());
        LogCapture log;
        const long long before = PeakMemoryAfterReset();
        EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kInvalidReply) << name;
        if (rvx::test::kPeakMemoryMeansHeld) {
            EXPECT_LT(PeakMemory() - before, 40 << 20) << name;
        }
        EXPECT_TRUE(log.Contains("Settings message refused: the decrypted text exceeds")) << name;
        EXPECT_EQ(Cache().toStdString(), good) << name;
    }

    WriteCache(signedBomb);
    const long long before = PeakMemoryAfterReset();
    EXPECT_EQ(agent->readCachedSettings(), "");
    if (rvx::test::kPeakMemoryMeansHeld) {
        EXPECT_LT(PeakMemory() - before, 40 << 20);
    }
}

// On a full disk the new settings cannot be stored (QSaveFile even reported
// success and left an empty cache): the previous cache stays, the failure
// is logged, and the cycle does not report new settings (no restart).
TEST_F(SettingsRetrievalTest, FullDiskKeepsTheCacheAndReportsNoNewSettings)
{
    ImportServerSecretKey();
    const std::string serverSigned = "--local-user " + serverKeyFingerprint() + " --sign";
    const std::string good = Sealed("<Settings name=\"good\"/>", serverSigned);
    ScriptedService service({Sealed("<Settings name=\"newer\"/>", serverSigned)});
    UseService(service.Url());
    getMacAddress();  // the local settings store belongs to this thread
    const std::string folder = (appData.path() + "/Talkbox").toStdString();
    RVX_IN_PRIVATE_MOUNT_NAMESPACE([&] {
        ASSERT_TRUE(rvx::test::MountTmpfs(folder, 16));
        WriteCache(good);
        ASSERT_EQ(Cache().toStdString(), good);
        rvx::test::FillFileSystem(folder);
        LogCapture log;
        EXPECT_EQ(agent->updateSettingsIfPossible(), Status::kInvalidReply);
        EXPECT_TRUE(log.Contains("Unable to write settings to file, Error:")) << log.Text();
        EXPECT_EQ(Cache().toStdString(), good);
    });
}

TEST_F(SettingsRetrievalTest, CachedSettingsAndTheRegisteredFlag)
{
    EXPECT_EQ(agent->readCachedSettings(), "");
    EXPECT_FALSE(registered);

    WriteCache(std::string(SettingsFileRetrievalAgent::kLargestCachedReply + 1, 'x'));
    EXPECT_EQ(agent->readCachedSettings(), "");
    EXPECT_FALSE(registered);

    // A readable cache marks the unit registered even when it does not decrypt.
    WriteCache("not a message");
    EXPECT_EQ(agent->readCachedSettings(), "");
    EXPECT_TRUE(registered);
}

TEST_F(SettingsRetrievalTest, PushDuringTheWaitStartsACheckWithinOneStep)
{
    ScriptedService service({"UNIT_NOT_YET_REGISTERED"});
    UseService(service.Url());
    agent->setTimings({200, 100000, 300});
    WorkerRun worker(*agent);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.SettingsRequests() == 1; }, 5000));
    QTest::qWait(500);
    EXPECT_EQ(service.SettingsRequests(), 1u);

    QElapsedTimer clock;
    clock.start();
    settingsChangedNotice(pushed);
    ASSERT_TRUE(QTest::qWaitFor([&] { return service.SettingsRequests() == 2; }, 5000));
    EXPECT_LT(clock.elapsed(), 200 + 500);
    EXPECT_FALSE(pushed);
}

TEST_F(SettingsRetrievalTest, DisabledServiceAccessFailsTheRequest)
{
    LogCapture log("DISABLE_ACCESSING_WEB_MANAGEMENT\n");
    EXPECT_THROW(agent->updateSettingsIfPossible(), std::runtime_error);
    EXPECT_TRUE(log.Contains("Accessing web management is disabled through debug_log.conf\n"));
}

// A served key is taken only when it is exactly the pinned key: another
// key, or the pinned one bundled with another, would widen whom the radio
// trusts.
TEST_F(SettingsRetrievalTest, ServedServerKeyIsImportedOnlyWhenItIsThePinnedOne)
{
    const OperatorKey operatorKey = MakeOperatorKey();
    ASSERT_EQ(operatorKey.publicKey.rfind("-----BEGIN PGP PUBLIC KEY BLOCK-----", 0), 0u);
    ServerKeyFetch fetch(keys->places().gpgPath, operatorKey.fingerprint);
    ASSERT_FALSE(fetch.keyRingHasPinnedKey());
    const std::string shippedKey = home.Gpg("--armor --export " + serverKeyFingerprint());
    struct Case
    {
        const char* name;
        std::string served;
        bool imported;
    };
    const Case cases[] = {
        {"another key", shippedKey, false},
        {"the pinned key with another", operatorKey.publicKeyWithAnother, false},
        {"an error page", "<html>Not found</html>", false},
        {"the pinned key", operatorKey.publicKey, true},
    };
    for (const Case& test : cases) {
        LogCapture log;
        EXPECT_EQ(fetch.importIfPinned(test.served), test.imported) << test.name;
        EXPECT_EQ(fetch.keyRingHasPinnedKey(), test.imported) << test.name;
        EXPECT_EQ(log.Contains("Server key refused: "), !test.imported) << test.name << "\n" << log.Text();
    }
    const std::string trust = home.Gpg("--export-ownertrust");
    EXPECT_EQ(trust.find(operatorKey.fingerprint), std::string::npos) << trust;
}

// A radio pointed at an operator's service by its local settings: a service
// signing with another key (even one in the key ring) is refused and its
// served key not taken; the operator's own service hands over its key and
// its settings are stored.
TEST_F(SettingsRetrievalTest, OperatorServiceWithItsOwnPinnedKey)
{
    const OperatorKey operatorKey = MakeOperatorKey();
    ManagementSimProcess testKeyService;
    ManagementSimProcess operatorService(
        "127.0.0.1", {"--server-key", operatorKey.secretKeyFile, "--server-fingerprint", operatorKey.fingerprint});
    ASSERT_TRUE(testKeyService.Started());
    ASSERT_TRUE(operatorService.Started());
    useLocalServiceSettings({testKeyService.BaseUrl(), operatorKey.fingerprint});
    StartRadio();
    ASSERT_EQ(keys->places().serverFingerprint, operatorKey.fingerprint);
    const std::string code = keys->myPublicKeyId();

    struct Step
    {
        const char* name;
        const ManagementSimProcess& service;
        Status status;
        const char* logged;
    };
    const Step steps[] = {
        {"signed with the test key", testKeyService, Status::kInvalidReply, "Server key refused: the service served "},
        {"signed with the operator key", operatorService, Status::kNewSettingsStored,
         "Imported the server key "},
        {"test key again, operator key known", testKeyService, Status::kInvalidReply,
         "Settings message refused: signature not made by the server key"},
    };
    ASSERT_EQ(testKeyService.Admin({"register", code, "Test"}), "OK\n");
    ASSERT_EQ(operatorService.Admin({"register", code, "Fleet"}), "OK\n");
    for (const Step& step : steps) {
        useLocalServiceSettings({step.service.BaseUrl(), operatorKey.fingerprint});
        LogCapture log;
        EXPECT_EQ(agent->updateSettingsIfPossible(), step.status) << step.name;
        EXPECT_TRUE(log.Contains(step.logged)) << step.name << "\n" << log.Text();
    }
    EXPECT_NE(agent->readCachedSettings().find("accountName=\"Fleet\""), std::string::npos);
}

} // namespace
