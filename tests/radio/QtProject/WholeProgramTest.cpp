// The whole program as a user runs it: a registered unit with a trunked
// channel starts on an X server (Xvfb) in a network namespace of this test,
// with the relay router, the management-service simulator and a headless
// sound server; its home screen is saved as a picture, and PTT and a key are
// pressed by real pointer events. Voice must reach the relay and the display
// must show TX.
#include "ChildProcess.h"
#include "ManagementSimProcess.h"
#include "NetNamespace.h"
#include "PulseAudioServer.h"
#include "RadioProgramRun.h"
#include "RelayProcess.h"
#include "TemporaryGnupgHome.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>

#include <chrono>
#include <memory>
#include <unistd.h>

namespace {

using namespace std::chrono_literals;
using rvx::test::ChildProcess;
using rvx::test::ManagementSimProcess;
using rvx::test::PulseAudioServer;
using rvx::test::RadioProgramRun;
using rvx::test::RelayProcess;
using rvx::test::TemporaryGnupgHome;

const char* const kXvfb = "/usr/bin/Xvfb";
const char* const kXdotool = "/usr/bin/xdotool";

// Runs xdotool on the display; its standard output, trimmed.
QString Xdotool(const QString& display, const QStringList& arguments)
{
    QProcess tool;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("DISPLAY", display);
    tool.setProcessEnvironment(environment);
    tool.start(kXdotool, arguments);
    if (!tool.waitForFinished(10000))
        tool.kill();
    return QString::fromLocal8Bit(tool.readAllStandardOutput()).trimmed();
}

// A relay counter once it has grown past a value, or its last value when the time runs out.
long long CounterAbove(const RelayProcess& relay, const char* name, long long above, int ms)
{
    QDeadlineTimer deadline(ms);
    long long value = relay.Counter(name);
    while (value <= above && !deadline.hasExpired()) {
        QThread::msleep(100);
        value = relay.Counter(name);
    }
    return value;
}

TEST(WholeProgram, RegisteredUnitOnAnXServerTransmitsThroughTheRelayWhenPttIsPressed)
{
    if (access(kXvfb, X_OK) != 0 || access(kXdotool, X_OK) != 0)
        GTEST_SKIP() << "needs Xvfb and xdotool";
    RVX_REQUIRE_PRIVATE_NETNS();
    PulseAudioServer pulse(1000);
    ASSERT_TRUE(pulse.Running()) << pulse.Why();
    ChildProcess xserver(kXvfb, {"-displayfd", "1", "-screen", "0", "1280x480x24", "-nolisten", "tcp"});
    const auto displayNumber = xserver.ReadLine(10000ms);
    ASSERT_TRUE(displayNumber) << "Xvfb did not start";
    const QString display = ":" + QString::fromStdString(*displayNumber);
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());
    TemporaryGnupgHome home;
    ASSERT_TRUE(home.Valid());
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    const QString serviceUrl = QString::fromStdString(sim.BaseUrl());
    {
        QFile conf(folder.filePath("debug_log.conf"));
        ASSERT_TRUE(conf.open(QIODevice::WriteOnly));
        conf.write("DEBUG_REGISTRATION\nENABLE_SETTINGSFILE_DEBUG\nLCD_DEBUG_OUTPUT\nDEBUG_INDIVIDUAL_CALLS\n");
    }

    // A first start makes the unit's key and enrols it.
    std::string code;
    {
        RadioProgramRun first(folder.path(), home.Path(), serviceUrl);
        ASSERT_TRUE(first.start());
        ASSERT_TRUE(first.waitForOutput("updateSettingsIfPossible status: 1\n", 30000)) << first.output().constData();
        const QRegularExpressionMatch match =
            QRegularExpression("Registration code: ([0-9A-F]{8}) ").match(QString::fromLatin1(first.output()));
        ASSERT_TRUE(match.hasMatch()) << first.output().constData();
        code = match.captured(1).toStdString();
    }

    // Registered, with one trunked channel through the relay; the service's
    // reply becomes the unit's settings cache.
    ASSERT_EQ(sim.Admin({"register", code, "Harbour Patrol"}), "OK\n");
    const QString document = folder.filePath("unit-settings.xml");
    {
        QFile file(document);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(QStringLiteral("<RadioSettings name=\"Unit %1\" accountName=\"Harbour Patrol\">\n"
                                  "  <Halvane>\n"
                                  "    <LocalChannels>false</LocalChannels>\n"
                                  "    <DemoChannels>false</DemoChannels>\n"
                                  "    <Halvane2Routers><Halvane2Router address=\"127.0.0.1\" port=\"%2\"/></Halvane2Routers>\n"
                                  "  </Halvane>\n"
                                  "  <HalvaneChannels><channel name=\"Harbour\" num=\"300\" zone=\"Field\" zone_num=\"2\"/>"
                                  "</HalvaneChannels>\n"
                                  "</RadioSettings>\n")
                       .arg(QString::fromStdString(code))
                       .arg(relay.TrunkPort())
                       .toUtf8());
    }
    ASSERT_EQ(sim.Admin({"set-settings", code, document.toStdString()}), "OK\n");
    httplib::Client client("127.0.0.1", sim.Port());
    const httplib::Result reply =
        client.Post("/api/devconf/get", "kid=" + code, "application/x-www-form-urlencoded");
    ASSERT_TRUE(reply);
    ASSERT_TRUE(QDir().mkpath(folder.filePath("Talkbox")));
    {
        QFile cache(folder.filePath("Talkbox/settings_cache.gpg"));
        ASSERT_TRUE(cache.open(QIODevice::WriteOnly));
        cache.write(reply->body.data(), static_cast<qint64>(reply->body.size()));
    }

    // The radio on the X server; its home screen is kept as a picture.
    const QString screenshot = QStringLiteral(WHOLE_PROGRAM_ARTEFACTS "/whole-program-home.png");
    QFile::remove(screenshot);
    RadioProgramRun radio(folder.path(), home.Path(), serviceUrl);
    radio.setEnvironmentValue("QT_QPA_PLATFORM", "xcb");
    radio.setEnvironmentValue("DISPLAY", display);
    radio.setEnvironmentValue("RVX4400_SCREENSHOT", screenshot);
    ASSERT_TRUE(radio.start());
    ASSERT_TRUE(radio.waitForOutput("Screenshot saved to", 20000)) << radio.output().constData();
    EXPECT_TRUE(radio.output().contains("Registered:  1\n")) << radio.output().constData();
    EXPECT_TRUE(radio.output().contains("Selecting screen index: 2\n")) << radio.output().constData();
    EXPECT_FALSE(radio.output().contains("PTT Disabled")) << radio.output().constData();
    const QImage picture(screenshot);
    EXPECT_GE(picture.width(), 1177);
    EXPECT_GE(picture.height(), 380);

    const QString window =
        Xdotool(display, {"search", "--onlyvisible", "--pid", QString::number(radio.process().processId())})
            .split('\n')
            .value(0);
    ASSERT_FALSE(window.isEmpty()) << "no window of the radio on " << display.toStdString();

    // PTT held by the pointer: voice leaves through the trunk, TX shows.
    const long long before = relay.Counter("group_messages");
    ASSERT_GE(before, 0);
    Xdotool(display, {"mousemove", "--window", window, "160", "283", "mousedown", "1"});
    EXPECT_TRUE(radio.waitForOutput("TX indicator shown\n", 5000)) << radio.output().constData();
    const long long during = CounterAbove(relay, "group_messages", before + 3, 8000);
    EXPECT_GT(during, before + 3) << "voice packets through the relay\n" << relay.Ask("counters");
    // The radio's own voice coming back to it must never make its channel
    // busy: TX stays on for the whole press.
    QThread::msleep(1500);
    EXPECT_FALSE(radio.output().contains("TX indicator hidden\n")) << radio.output().constData();
    EXPECT_FALSE(radio.output().contains("just went active")) << radio.output().constData();
    Xdotool(display, {"mouseup", "1"});
    EXPECT_TRUE(radio.waitForOutput("TX indicator hidden\n", 5000)) << radio.output().constData();

    // A front key clicked on the home screen opens the location page.
    Xdotool(display, {"mousemove", "--window", window, "828", "180", "click", "1"});
    EXPECT_TRUE(radio.waitForOutput("Selecting screen index: 6\n", 5000)) << radio.output().constData();
    radio.stop();
}

} // namespace
