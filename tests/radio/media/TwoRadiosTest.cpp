// Two radios in two processes and two network namespaces joined by a veth
// pair, sharing one headless sound server: a tone captured at radio A is
// played by radio B, having crossed between the namespaces as multicast RTP.
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"
#include "ChildProcess.h"
#include "PeerNamespace.h"
#include "RelayProcess.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <unistd.h>

namespace {

using namespace rvx::test;
using namespace std::chrono_literals;

const char* const kGroup = "225.4.0.9";

TEST(TwoRadios, ToneFromRadioAIsPlayedByRadioBInAnotherNamespace)
{
    RVX_REQUIRE_PRIVATE_NETNS();
    PulseAudioServer& pulse = SoundServerAndMedia();
    ASSERT_TRUE(pulse.Running()) << pulse.Why();
    char folder[] = "/tmp/peer.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string ready = std::string(folder) + "/ready";

    ChildProcess radioB("/usr/bin/unshare",
                        {"-n", RADIO_PEER_PATH, ready, "PCMU", "46002", kGroup, "46002", "listen", "12"});
    ASSERT_TRUE(ConnectToPeerNamespace(radioB.Pid(), true));
    std::ofstream(ready).put('\n');
    ASSERT_TRUE(radioB.WaitForLine("READY", 5000ms));

    HalvaneChannel radioA(0, 0, {"PCMU", "20"});
    HardwareAudioChannel audio(DefaultCards());
    audio.attachMediaStream(&radioA);
    radioA.setSsrc(0x00A0A0A0);
    radioA.setChannelAddress(46000, kGroup, 46002, 46003);
    const std::vector<std::int16_t> before = pulse.RecordPlayback(500ms);
    radioA.startTransmit();
    Pump(3000ms);
    const std::vector<std::int16_t> played = pulse.RecordPlayback(1500ms);
    radioA.stopTransmit();

    EXPECT_LT(Level(before), 20.0) << "nothing plays before A talks";
    ASSERT_GT(played.size(), 4000u);
    EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5) << "level " << Level(played);
    radioB.Signal(SIGTERM);
    unlink(ready.c_str());
    rmdir(folder);
}

TEST(TwoRadios, OnATrunkedGroupVoiceCrossesThroughTheRelayWhenMulticastCannot)
{
    RVX_REQUIRE_PRIVATE_NETNS();
    PulseAudioServer& pulse = SoundServerAndMedia();
    ASSERT_TRUE(pulse.Running()) << pulse.Why();
    const char* const trunkedGroup = "225.64.0.5";
    char folder[] = "/tmp/peer.XXXXXX";
    ASSERT_NE(mkdtemp(folder), nullptr);
    const std::string ready = std::string(folder) + "/ready";

    // A placeholder process holds B's namespace while the pair is made and
    // the relay starts on this side, so that B can be given the relay's port.
    ChildProcess holder("/usr/bin/unshare", {"-n", "/bin/sleep", "20"});
    ASSERT_TRUE(ConnectToPeerNamespace(holder.Pid(), false));
    RelayOnVeth relay;
    ASSERT_NE(relay.Port(), 0);
    const std::string ns = std::to_string(holder.Pid());
    ChildProcess radioB("/usr/bin/nsenter", {"-t", ns, "-n", RADIO_PEER_PATH, ready, "PCMU", "46012", trunkedGroup,
                                             "46012", "listen", "12", "10.77.0.1", std::to_string(relay.Port())});
    std::ofstream(ready).put('\n');
    ASSERT_TRUE(radioB.WaitForLine("READY", 5000ms));

    trunk::initRouting("10.77.0.1", relay.Port());
    HalvaneChannel radioA(0, 0, {"PCMU", "20"});
    HardwareAudioChannel audio(DefaultCards());
    audio.attachMediaStream(&radioA);
    radioA.setSsrc(0x00A0A0A1);
    radioA.setChannelAddress(46010, trunkedGroup, 46012, 46013);
    radioA.startTransmit();
    Pump(3000ms);
    const std::vector<std::int16_t> played = pulse.RecordPlayback(1500ms);
    radioA.stopTransmit();

    ASSERT_GT(played.size(), 4000u);
    EXPECT_GT(ToneShare(played, kCapturedToneHz), 0.5) << "level " << Level(played);
    radioB.Signal(SIGTERM);
    unlink(ready.c_str());
    rmdir(folder);
}

} // namespace
