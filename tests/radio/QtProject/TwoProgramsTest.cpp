// Two whole programs as users run them, where each hears the other: units A
// and B, each with its own key (so its own device id), sound server (its
// microphone a tone of its own pitch) and X server, run in two network
// namespaces joined by a veth pair with multicast routed over it, registered
// at one management-service simulator with the same trunked channel through
// one relay router. PTT pressed on one unit's window by the pointer must
// make the other play the tone and report the talker's device id; released,
// the listener must go quiet again.
#include "ChildProcess.h"
#include "ManagementSimProcess.h"
#include "NetNamespace.h"
#include "PeerNamespace.h"
#include "PulseAudioServer.h"
#include "RadioProgramRun.h"
#include "RegisteredRadio.h"
#include "RelayProcess.h"
#include "VirtualDisplay.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QString>
#include <QStringList>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using rvx::test::ChildProcess;
using rvx::test::Level;
using rvx::test::ManagementSimProcess;
using rvx::test::PulseAudioServer;
using rvx::test::RadioProgramRun;
using rvx::test::RegisteredRadio;
using rvx::test::RelayProcess;
using rvx::test::ToneShare;
using rvx::test::VirtualDisplay;

const char* const kVethHere = "10.77.0.1";
const char* const kDebugFlags = "DEBUG_REGISTRATION\nENABLE_SETTINGSFILE_DEBUG\nLCD_DEBUG_OUTPUT\nDEBUG_INDIVIDUAL_CALLS\n";
// Where the PTT key is in the radio's window.
const QStringList kPttKey = {"160", "283"};

// Waits until the sound server plays something audible; false when nothing
// did within the time.
bool WaitUntilAudible(PulseAudioServer& sound, std::chrono::milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline)
        if (Level(sound.RecordPlayback(100ms)) > 100.0)
            return true;
    return false;
}

QByteArray ActivityLine(const std::string& talker, const char* change)
{
    return QByteArray("Incoming RTP stream from SSRC ") + talker.c_str() + " just went " + change;
}

// One user's radio: the unit, its sound server, its X server and, once
// started, the running program and its window.
struct Station
{
    Station(const char* stationName, int microphoneHz, const QString& serviceUrl, const QStringList& launcher)
        : name(stationName), toneHz(microphoneHz), sound(microphoneHz), display(launcher),
          unit(serviceUrl, sound.ServerAddress(), launcher)
    {
    }

    // The program on the station's X server, up to its home screen (its
    // picture kept as a test artefact), and its window.
    ::testing::AssertionResult start()
    {
        const QString screenshot = QStringLiteral(WHOLE_PROGRAM_ARTEFACTS "/two-programs-%1-home.png").arg(name.c_str());
        QFile::remove(screenshot);
        radio = unit.program(display.name());
        radio->setEnvironmentValue("RVX4400_SCREENSHOT", screenshot);
        if (!radio->start() || !radio->waitForOutput("Screenshot saved to", 30000))
            return ::testing::AssertionFailure() << name << " did not come up:\n" << radio->output().constData();
        window = display.windowOf(radio->process().processId());
        if (window.isEmpty())
            return ::testing::AssertionFailure() << "no window of " << name << " on " << display.name().toStdString();
        return ::testing::AssertionSuccess();
    }

    void pressPtt() { display.xdotool(QStringList{"mousemove", "--window", window} << kPttKey << "mousedown" << "1"); }
    void releasePtt() { display.xdotool({"mouseup", "1"}); }

    std::string name;
    int toneHz;
    PulseAudioServer sound;
    VirtualDisplay display;
    RegisteredRadio unit;
    std::unique_ptr<RadioProgramRun> radio;
    QString window;
};

class TwoPrograms : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (!VirtualDisplay::Available())
            GTEST_SKIP() << "needs Xvfb and xdotool";
        RVX_REQUIRE_PRIVATE_NETNS();
        // B's namespace is held by a placeholder while the veth pair is made;
        // the relay and the simulator then listen where both sides reach them.
        holder_ = std::make_unique<ChildProcess>("/usr/bin/unshare", std::vector<std::string>{"-n", "/bin/sleep", "300"});
        ASSERT_TRUE(rvx::test::ConnectToPeerNamespace(holder_->Pid(), true));
        relay_ = std::make_unique<RelayProcess>(std::vector<std::string>{"--listen", kVethHere});
        ASSERT_TRUE(relay_->Started());
        sim_ = std::make_unique<ManagementSimProcess>("0.0.0.0");
        ASSERT_TRUE(sim_->Started());
        const QString serviceUrl = QStringLiteral("http://%1:%2").arg(kVethHere).arg(sim_->Port());
        const QStringList inNamespaceB = {"/usr/bin/nsenter", "-t", QString::number(holder_->Pid()), "-n", "--"};
        a_ = std::make_unique<Station>("a", 1000, serviceUrl, QStringList());
        b_ = std::make_unique<Station>("b", 600, serviceUrl, inNamespaceB);
        for (Station* station : {a_.get(), b_.get()})
            ASSERT_NO_FATAL_FAILURE(Prepare(*station));
        ASSERT_NE(a_->unit.code(), b_->unit.code()) << "each unit has its own key";
        ASSERT_TRUE(a_->start());
        ASSERT_TRUE(b_->start());
    }

    void Prepare(Station& station)
    {
        ASSERT_TRUE(station.sound.Running()) << station.sound.Why();
        ASSERT_TRUE(station.display.started()) << "Xvfb did not start";
        station.unit.setDebugFlags(kDebugFlags);
        ASSERT_TRUE(station.unit.enrol());
        ASSERT_TRUE(station.unit.registerAt(
            *sim_, "Harbour Patrol",
            rvx::test::HarbourChannelSettings(station.unit.code(), kVethHere, relay_->TrunkPort())));
    }

    // The talker holds PTT: the listener reports the talker's device id,
    // plays its tone, and gets the voice through the relay as well. Released,
    // the listener reports the stream gone and plays nothing.
    void Talk(Station& talker, Station& listener)
    {
        SCOPED_TRACE(talker.name + " talks to " + listener.name);
        EXPECT_LT(Level(listener.sound.RecordPlayback(500ms)), 20.0) << "quiet before the call";
        const long long relayedBefore = relay_->Counter("forwarded");
        talker.pressPtt();
        EXPECT_TRUE(talker.radio->waitForOutput("TX indicator shown\n", 5000)) << talker.radio->output().constData();
        EXPECT_TRUE(listener.radio->waitForOutput(ActivityLine(talker.unit.code(), "active"), 10000))
            << listener.radio->output().constData();
        EXPECT_TRUE(WaitUntilAudible(listener.sound, 5000ms)) << "nothing plays";
        const std::vector<std::int16_t> heard = listener.sound.RecordPlayback(1500ms);
        EXPECT_GT(heard.size(), 8000u);
        EXPECT_GT(ToneShare(heard, talker.toneHz), 0.5) << "level " << Level(heard);
        EXPECT_GT(relay_->CounterAbove("forwarded", relayedBefore + 3, 5000ms), relayedBefore + 3)
            << "voice through the relay\n"
            << relay_->Ask("counters");

        talker.releasePtt();
        EXPECT_TRUE(talker.radio->waitForOutput("TX indicator hidden\n", 5000)) << talker.radio->output().constData();
        EXPECT_TRUE(listener.radio->waitForOutput(ActivityLine(talker.unit.code(), "inactive"), 10000))
            << listener.radio->output().constData();
        const std::vector<std::int16_t> after = listener.sound.RecordPlayback(1000ms);
        EXPECT_GT(after.size(), 4000u) << "the sink's recording goes on";
        EXPECT_LT(Level(after), 20.0) << "tone share " << ToneShare(after, talker.toneHz);
    }

    // Declared so that the stations go first and the placeholder holding
    // B's namespace last.
    std::unique_ptr<ChildProcess> holder_;
    std::unique_ptr<RelayProcess> relay_;
    std::unique_ptr<ManagementSimProcess> sim_;
    std::unique_ptr<Station> a_;
    std::unique_ptr<Station> b_;
};

TEST_F(TwoPrograms, EachUnitInItsOwnNamespaceHearsTheOtherAndShowsItAsTheTalkerWhilePttIsPressed)
{
    Talk(*a_, *b_);
    Talk(*b_, *a_);
    // A unit's own voice, looped back by multicast or the relay, never makes
    // it report itself as a talker.
    for (const Station* station : {a_.get(), b_.get()})
        EXPECT_FALSE(station->radio->output().contains(ActivityLine(station->unit.code(), "active")))
            << station->radio->output().constData();
}

} // namespace
