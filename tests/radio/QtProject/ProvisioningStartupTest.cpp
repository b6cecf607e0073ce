// The real program against the management-service simulator, offscreen, in
// a temporary GnuPG home and data folder: a first start makes the key and
// enrols; a start with cached settings decrypts them and finds them current;
// a start pointed at the service by settings.ini alone. And a fleet run by
// the real rvx-manager: the radio enrols, is registered from the command
// line, restarts into the managed plan signed by the manager's own key, keeps
// it across a restart of the manager, and gets its new name through a
// notice sent by way of the relay.
#include "ManagementSimProcess.h"
#include "ManagerProcess.h"
#include "NetNamespace.h"
#include "RadioProgramRun.h"
#include "RelayProcess.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <csignal>
#include <fstream>
#include <memory>
#include <sstream>
#include <thread>

namespace {

using rvx::test::ManagementSimProcess;
using rvx::test::RadioProgramRun;
using rvx::test::TemporaryGnupgHome;

class ProvisioningStartupTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.Valid());
        ASSERT_TRUE(folder.isValid());
        ASSERT_TRUE(sim.Started());
        QFile conf(folder.filePath("debug_log.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("ENABLE_SETTINGSFILE_DEBUG\nENABLE_KEY_GENERATION_DEBUG\nDEBUG_REGISTRATION\n");
    }

    // Starts the program; its standard error collects in output.
    void Start()
    {
        radio = std::make_unique<RadioProgramRun>(folder.path(), home.Path(), QString::fromStdString(sim.BaseUrl()));
        ASSERT_TRUE(radio->start());
    }
    bool WaitForOutput(const QByteArray& text, int ms)
    {
        const bool found = radio->waitForOutput(text, ms);
        output = radio->output();
        return found;
    }
    void Stop() { radio->stop(); }
    QString CachePath() const { return folder.filePath("Talkbox/settings_cache.gpg"); }

    TemporaryGnupgHome home;
    QTemporaryDir folder;
    ManagementSimProcess sim;
    std::unique_ptr<RadioProgramRun> radio;
    QByteArray output;
};

TEST_F(ProvisioningStartupTest, FirstStartEnrolsAndASecondStartUsesTheCachedSettings)
{
    Start();
    ASSERT_TRUE(WaitForOutput("updateSettingsIfPossible status: 1\n", 30000)) << output.constData();
    const QRegularExpressionMatch code =
        QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(output));
    ASSERT_TRUE(code.hasMatch()) << output.constData();
    const std::string registrationCode = code.captured(1).toStdString();
    EXPECT_TRUE(output.contains("Checking encryption keys...\n"));
    EXPECT_TRUE(output.contains("Using Device ID: " + QByteArray::fromStdString(registrationCode)));
    EXPECT_TRUE(output.contains("Calling postKeys()"));
    EXPECT_TRUE(QFile::exists(folder.filePath("Talkbox/client-public-key.gpg")));
    Stop();
    EXPECT_NE(sim.Admin({"list"}).find(registrationCode + " key="), std::string::npos);

    // Registered in the service; its current reply becomes the cache.
    ASSERT_EQ(sim.Admin({"register", registrationCode, "Harbour Patrol"}), "OK\n");
    httplib::Client client("127.0.0.1", sim.Port());
    const httplib::Result reply = client.Post("/api/devconf/get", "kid=" + registrationCode,
                                              "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply);
    QDir().mkpath(folder.filePath("Talkbox"));
    QFile cache(CachePath());
    ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
    cache.write(reply->body.data(), static_cast<qint64>(reply->body.size()));
    cache.close();

    Start();
    ASSERT_TRUE(WaitForOutput("Cache file was already up to date\n", 30000)) << output.constData();
    EXPECT_TRUE(output.contains("Registered:  1\n"));
    EXPECT_FALSE(output.contains("Cached settings length:  0\n"));
    EXPECT_FALSE(output.contains("Using default settings (16 channels, no Halvane)"));
    EXPECT_FALSE(output.contains("generating..."));
    Stop();
}

// settings.ini alone points the program at the service; a fingerprint there
// that is none is reported at start, not replaced by the build's key.
TEST_F(ProvisioningStartupTest, ServiceAndServerKeyComeFromTheLocalSettings)
{
    QDir().mkpath(folder.filePath("Talkbox"));
    QFile ini(folder.filePath("Talkbox/settings.ini"));
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nmanagement_url=" + QByteArray::fromStdString(sim.BaseUrl()) +
              "\nserver_fingerprint=7D49 154E\n");
    ini.close();
    radio = std::make_unique<RadioProgramRun>(folder.path(), home.Path(), QString());
    ASSERT_TRUE(radio->start());
    ASSERT_TRUE(WaitForOutput("updateSettingsIfPossible status: 1\n", 30000)) << output.constData();
    EXPECT_TRUE(output.contains("Management service: " + QByteArray::fromStdString(sim.BaseUrl()) +
                                " (management_url)\n"))
        << output.constData();
    EXPECT_TRUE(output.contains("Server key: the server key fingerprint from server_fingerprint (\"7D49 154E\") is "
                                "not 40 hexadecimal digits; every settings message is refused until it is fixed\n"))
        << output.constData();
    Stop();
}

// The copy of the program a restart started: the program whose data folder
// is the given one; 0 when there is none.
pid_t RestartedCopy(const QString& dataFolder, pid_t original)
{
    const std::string wanted = "appdata=" + dataFolder.toStdString();
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool number = false;
        const pid_t pid = static_cast<pid_t>(entry.toInt(&number));
        if (!number || pid == original || QFile::symLinkTarget("/proc/" + entry + "/exe") != RADIO_PROGRAM_PATH)
            continue;
        std::ifstream environ("/proc/" + entry.toStdString() + "/environ", std::ios::binary);
        std::string variable;
        while (std::getline(environ, variable, '\0'))
            if (variable == wanted)
                return pid;
    }
    return 0;
}

// Waits for the program to restart itself, then ends the copy (by its id).
::testing::AssertionResult RestartedAndStopped(RadioProgramRun& radio, const QString& dataFolder)
{
    const pid_t original = static_cast<pid_t>(radio.process().processId());
    if (!radio.waitForOutput("Restarting now...\n", 30000) || !radio.waitForEnd(10000))
        return ::testing::AssertionFailure() << "no restart:\n" << radio.output().constData();
    pid_t copy = 0;
    for (int i = 0; i < 50 && copy == 0; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(100)))
        copy = RestartedCopy(dataFolder, original);
    if (copy == 0)
        return ::testing::AssertionFailure() << "the restarted copy is not running";
    ::kill(copy, SIGTERM);
    for (int i = 0; i < 100 && ::kill(copy, 0) == 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    return ::testing::AssertionSuccess();
}

// The unit's settings cache, decrypted with its own key.
std::string DecryptedCache(const QString& dataFolder, const std::string& gnupgHome)
{
    QProcess gpg;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("GNUPGHOME", QString::fromStdString(gnupgHome));
    gpg.setProcessEnvironment(environment);
    gpg.start("gpg", {"--batch", "--quiet", "--decrypt", dataFolder + "/Talkbox/settings_cache.gpg"});
    gpg.waitForFinished(20000);
    return gpg.readAllStandardOutput().toStdString();
}

TEST(ManagedFleet, TheRadioEnrolsIsRegisteredRunsTheManagedPlanAndGetsItsNewNameByANotice)
{
    RVX_REQUIRE_PRIVATE_NETNS();
    rvx::test::RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    rvx::test::ManagerProcess manager({"--relay-control", relay.ControlSocket()});
    ASSERT_TRUE(manager.Started());
    for (const std::vector<std::string>& command : std::vector<std::vector<std::string>>{
             {"zone", "add", "2", "Field"},
             {"channel", "add", "300", "Harbour", "--zone", "2"},
             {"router", "add", "127.0.0.1", std::to_string(relay.TrunkPort())},
             {"set", "local-channels", "off"}})
        ASSERT_EQ(manager.Run(command).status, 0) << manager.Run(command).output;

    TemporaryGnupgHome home;
    QTemporaryDir folder;
    ASSERT_TRUE(home.Valid() && folder.isValid());
    QFile conf(folder.filePath("debug_log.conf"));
    ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
    conf.write("ENABLE_SETTINGSFILE_DEBUG\nDEBUG_REGISTRATION\nENABLE_ZONE_DEBUG\n");
    conf.close();
    auto radioRun = [&] {
        auto run = std::make_unique<RadioProgramRun>(folder.path(), home.Path(), QString::fromStdString(manager.BaseUrl()));
        run->setEnvironmentValue("RVX4400_SERVER_FINGERPRINT", QString::fromStdString(manager.Fingerprint()));
        return run;
    };

    // A new unit uploads its key and shows its code.
    std::unique_ptr<RadioProgramRun> radio = radioRun();
    ASSERT_TRUE(radio->start());
    ASSERT_TRUE(radio->waitForOutput("updateSettingsIfPossible status: 1\n", 30000)) << radio->output().constData();
    const QRegularExpressionMatch code =
        QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(radio->output()));
    ASSERT_TRUE(code.hasMatch()) << radio->output().constData();
    radio->stop();

    // Registered from the command line: at its next start it fetches the
    // managed plan, keeps it and restarts into it.
    ASSERT_EQ(manager.Run({"register", code.captured(1).toStdString(), "--name", "Harbour One", "--account", "Harbour"})
                  .status,
              0);
    radio = radioRun();
    ASSERT_TRUE(radio->start());
    ASSERT_TRUE(RestartedAndStopped(*radio, folder.path()));
    EXPECT_TRUE(radio->output().contains("Restarting to apply updated settings...")) << radio->output().constData();
    const std::string plan = DecryptedCache(folder.path(), home.Path());
    EXPECT_NE(plan.find("name=\"Harbour One\""), std::string::npos) << plan;
    EXPECT_NE(plan.find("<channel name=\"Harbour\" num=\"300\""), std::string::npos) << plan;

    // The manager restarts; the radio finds its plan current and runs it.
    manager.Stop();
    ASSERT_TRUE(manager.Start());
    radio = radioRun();
    ASSERT_TRUE(radio->start());
    ASSERT_TRUE(radio->waitForOutput("Cache file was already up to date\n", 30000)) << radio->output().constData();
    EXPECT_TRUE(radio->output().contains("Registered:  1\n"));
    EXPECT_TRUE(radio->output().contains("Harbour")) << "the managed channel";

    // Renamed while it runs: the notice reaches it through the relay and it
    // fetches the new settings within seconds.
    ASSERT_EQ(manager.Run({"rename", code.captured(1).toStdString(), "Harbour Two"}).status, 0);
    ASSERT_TRUE(RestartedAndStopped(*radio, folder.path()));
    EXPECT_TRUE(radio->output().contains("Push notification flag is set")) << radio->output().constData();
    EXPECT_NE(DecryptedCache(folder.path(), home.Path()).find("name=\"Harbour Two\""), std::string::npos);
}

} // namespace
