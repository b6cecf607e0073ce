// The real program against the management-service simulator, offscreen, in
// a temporary GnuPG home and data folder: a first start makes the key and
// enrols; a start with cached settings decrypts them and finds them current;
// a start pointed at the service by settings.ini alone.
#include "ManagementSimProcess.h"
#include "RadioProgramRun.h"
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

#include <memory>

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

} // namespace
