// The registration gate of the real program against the management-service
// simulator: an unregistered unit that asked for registration shows the
// registration screen with its code, polls by itself and restarts once it
// is registered; a service whose replies cannot be used gives the retry
// screen and no automatic polls; a refused connection skips the gate. The
// program runs offscreen in temporary folders.
#include "LocalHttpServer.h"
#include "ManagementSimProcess.h"
#include "RadioProgramRun.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSize>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <memory>
#include <sys/types.h>

namespace {

using rvx::test::ManagementSimProcess;
using rvx::test::RadioProgramRun;
using rvx::test::TemporaryGnupgHome;

// Pids of processes whose environment names the folder: the copies a
// restart started, which this test must end itself.
QList<pid_t> processesUsingFolder(const QString& folder)
{
    QList<pid_t> pids;
    const QByteArray marker = "appdata=" + folder.toLocal8Bit() + '\0';
    for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        QFile environment("/proc/" + entry + "/environ");
        if (isPid && pid != getpid() && environment.open(QIODevice::ReadOnly) &&
            environment.readAll().contains(marker))
            pids << pid;
    }
    return pids;
}

// Width and height from a PNG file's header chunk.
QSize pngSize(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QSize();
    const QByteArray header = file.read(24);
    if (header.size() < 24 || !header.startsWith("\x89PNG"))
        return QSize();
    auto bigEndian = [&](int at) {
        return (uchar(header[at]) << 24) | (uchar(header[at + 1]) << 16) | (uchar(header[at + 2]) << 8) |
               uchar(header[at + 3]);
    };
    return QSize(bigEndian(16), bigEndian(20));
}

class RegistrationGateTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(home.Valid());
        ASSERT_TRUE(folder.isValid());
        QFile conf(folder.filePath("debug_log.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("DEBUG_REGISTRATION\nLCD_DEBUG_OUTPUT\n");
        // The user chose to register: the gate runs while unregistered.
        ASSERT_TRUE(QDir().mkpath(folder.filePath("Talkbox")));
        QFile settings(folder.filePath("Talkbox/settings.ini"));
        ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
        settings.write("[General]\nshow_reg=true\n");
    }
    void TearDown() override
    {
        radio.reset();
        for (pid_t copy : processesUsingFolder(folder.path()))
            ::kill(copy, SIGKILL);
    }

    void Start(const QString& serviceUrl, const QString& screenshot = QString())
    {
        radio = std::make_unique<RadioProgramRun>(folder.path(), home.Path(), serviceUrl);
        if (!screenshot.isEmpty())
            radio->setEnvironmentValue("RVX4400_SCREENSHOT", screenshot);
        ASSERT_TRUE(radio->start());
    }
    bool WaitForOutput(const QByteArray& text, int ms) { return radio->waitForOutput(text, ms); }
    const QByteArray& Output() const { return radio->output(); }

    TemporaryGnupgHome home;
    QTemporaryDir folder;
    std::unique_ptr<RadioProgramRun> radio;
};

TEST_F(RegistrationGateTest, UnregisteredUnitShowsItsCodePollsByItselfAndRestartsOnceRegistered)
{
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());
    Start(QString::fromStdString(sim.BaseUrl()));
    ASSERT_TRUE(WaitForOutput("Not yet registered; displaying registration screen.\n", 30000)) << Output().constData();
    ASSERT_TRUE(WaitForOutput("Selecting screen index: 1\n", 5000)) << Output().constData();
    const QRegularExpressionMatch code =
        QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(Output()));
    ASSERT_TRUE(code.hasMatch()) << Output().constData();
    ASSERT_TRUE(WaitForOutput("Automatically polling to see if registration is complete\n", 5000));
    ASSERT_TRUE(WaitForOutput("Still not registered\n", 10000)) << Output().constData();
    EXPECT_EQ(Output().count("Automatically polling"), 1) << "one poll per due second";

    ASSERT_EQ(sim.Admin({"register", code.captured(1).toStdString(), "Harbour Patrol"}), "OK\n");
    ASSERT_TRUE(WaitForOutput("Is now registered\n", 20000)) << Output().constData();
    EXPECT_EQ(Output().count("Automatically polling"), 2) << "the next poll came 15 s later";
    ASSERT_TRUE(WaitForOutput("Restarting now...\n", 10000)) << Output().constData();
    ASSERT_TRUE(radio->waitForEnd(10000)) << Output().constData();
    EXPECT_EQ(radio->process().exitCode(), 0);
    EXPECT_TRUE(QFile::exists(folder.filePath("Talkbox/settings_cache.gpg")));
}

TEST_F(RegistrationGateTest, UnusableRepliesShowTheRetryScreenAndPollOnlyOnTheKey)
{
    rvx::test::LocalHttpServer service;
    service.Server().Post(".*", [](const httplib::Request&, httplib::Response& response) {
        response.set_content("<html><body>Service unavailable</body></html>", "text/html");
    });
    ASSERT_TRUE(service.Start());
    Start(QString::fromStdString(service.Url()));
    ASSERT_TRUE(WaitForOutput("Unable to reach WebManagement; displaying unableToRegisterScreen.\n", 30000))
        << Output().constData();
    ASSERT_TRUE(WaitForOutput("Selecting screen index: 16\n", 5000)) << Output().constData();
    EXPECT_FALSE(WaitForOutput("Automatically polling", 2500));
    EXPECT_FALSE(Output().contains("Selecting screen index: 2\n")) << "held at the gate";
}

TEST_F(RegistrationGateTest, UnitNotAskedToRegisterGoesFromSplashStraightToHome)
{
    QFile settings(folder.filePath("Talkbox/settings.ini"));
    ASSERT_TRUE(settings.open(QIODevice::WriteOnly));
    settings.write("[General]\nshow_reg=false\n");
    settings.close();
    // The picture of the running radio stays beside the test as an artefact.
    const QString screenshot = QDir::current().filePath("radio_home_screen.png");
    QFile::remove(screenshot);
    Start("http://127.0.0.1:9", screenshot);
    ASSERT_TRUE(WaitForOutput("Screenshot saved to", 30000)) << Output().constData();
    const QByteArray& output = Output();
    const qsizetype splash = output.indexOf("Selecting screen index: 0\n");
    const qsizetype home = output.indexOf("Selecting screen index: 2\n");
    ASSERT_GE(splash, 0);
    EXPECT_GT(home, splash);
    EXPECT_FALSE(output.contains("Retrieving settings...")) << "no gate";
    EXPECT_EQ(output.count("Selecting screen index: "), 2) << output.constData();
    EXPECT_EQ(pngSize(screenshot), QSize(1180, 380));
}

TEST_F(RegistrationGateTest, RefusedConnectionEndsTheGateAndTheRadioStarts)
{
    Start("http://127.0.0.1:9");
    ASSERT_TRUE(WaitForOutput("Selecting screen index: 2\n", 30000)) << Output().constData();
    EXPECT_TRUE(Output().contains("Retrieving settings failed ("));
    EXPECT_TRUE(Output().contains(").  Using cached settings file or defaults.\n"));
}

} // namespace
