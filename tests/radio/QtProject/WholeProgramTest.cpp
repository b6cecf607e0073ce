// The whole program as a user runs it: a registered unit with a trunked
// channel starts on an X server (Xvfb) in a network namespace of this test,
// with the relay router, the management-service simulator and a headless
// sound server; its home screen is saved as a picture, and PTT and a key are
// pressed by real pointer events. Voice must reach the relay and the display
// must show TX.
#include "ManagementSimProcess.h"
#include "NetNamespace.h"
#include "PulseAudioServer.h"
#include "RadioProgramRun.h"
#include "RegisteredRadio.h"
#include "RelayProcess.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QThread>

#include <chrono>
#include <memory>

namespace {

using namespace std::chrono_literals;
using rvx::test::ManagementSimProcess;
using rvx::test::PulseAudioServer;
using rvx::test::RadioProgramRun;
using rvx::test::RegisteredRadio;
using rvx::test::RelayProcess;
using rvx::test::VirtualDisplay;

TEST(WholeProgram, RegisteredUnitOnAnXServerTransmitsThroughTheRelayWhenPttIsPressed)
{
    if (!VirtualDisplay::Available())
        GTEST_SKIP() << "needs Xvfb and xdotool";
    RVX_REQUIRE_PRIVATE_NETNS();
    PulseAudioServer pulse(1000);
    ASSERT_TRUE(pulse.Running()) << pulse.Why();
    VirtualDisplay display;
    ASSERT_TRUE(display.started()) << "Xvfb did not start";
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    ManagementSimProcess sim;
    ASSERT_TRUE(sim.Started());

    // Enrolled by a first start, then registered with one trunked channel
    // through the relay.
    RegisteredRadio unit(QString::fromStdString(sim.BaseUrl()), pulse.ServerAddress());
    unit.setDebugFlags("DEBUG_REGISTRATION\nENABLE_SETTINGSFILE_DEBUG\nLCD_DEBUG_OUTPUT\nDEBUG_INDIVIDUAL_CALLS\n");
    ASSERT_TRUE(unit.enrol());
    ASSERT_TRUE(unit.registerAt(sim, "Harbour Patrol",
                                rvx::test::HarbourChannelSettings(unit.code(), "127.0.0.1", relay.TrunkPort())));

    // The radio on the X server; its home screen is kept as a picture.
    const QString screenshot = QStringLiteral(WHOLE_PROGRAM_ARTEFACTS "/whole-program-home.png");
    QFile::remove(screenshot);
    const std::unique_ptr<RadioProgramRun> radio = unit.program(display.name());
    radio->setEnvironmentValue("RVX4400_SCREENSHOT", screenshot);
    ASSERT_TRUE(radio->start());
    ASSERT_TRUE(radio->waitForOutput("Screenshot saved to", 20000)) << radio->output().constData();
    EXPECT_TRUE(radio->output().contains("Registered:  1\n")) << radio->output().constData();
    EXPECT_TRUE(radio->output().contains("Selecting screen index: 2\n")) << radio->output().constData();
    EXPECT_FALSE(radio->output().contains("PTT Disabled")) << radio->output().constData();
    const QImage picture(screenshot);
    EXPECT_GE(picture.width(), 1177);
    EXPECT_GE(picture.height(), 380);

    const QString window = display.windowOf(radio->process().processId());
    ASSERT_FALSE(window.isEmpty()) << "no window of the radio on " << display.name().toStdString();

    // PTT held by the pointer: voice leaves through the trunk, TX shows.
    const long long before = relay.Counter("group_messages");
    ASSERT_GE(before, 0);
    display.xdotool({"mousemove", "--window", window, "160", "283", "mousedown", "1"});
    EXPECT_TRUE(radio->waitForOutput("TX indicator shown\n", 5000)) << radio->output().constData();
    const long long during = relay.CounterAbove("group_messages", before + 3, 8000ms);
    EXPECT_GT(during, before + 3) << "voice packets through the relay\n" << relay.Ask("counters");
    // The radio's own voice coming back to it must never make its channel
    // busy: TX stays on for the whole press.
    QThread::msleep(1500);
    EXPECT_FALSE(radio->output().contains("TX indicator hidden\n")) << radio->output().constData();
    EXPECT_FALSE(radio->output().contains("just went active")) << radio->output().constData();
    display.xdotool({"mouseup", "1"});
    EXPECT_TRUE(radio->waitForOutput("TX indicator hidden\n", 5000)) << radio->output().constData();

    // A front key clicked on the home screen opens the location page.
    display.xdotool({"mousemove", "--window", window, "828", "180", "click", "1"});
    EXPECT_TRUE(radio->waitForOutput("Selecting screen index: 6\n", 5000)) << radio->output().constData();
    radio->stop();
}

} // namespace
