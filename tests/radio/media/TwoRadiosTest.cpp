// Two radios in two processes and two network namespaces joined by a veth
// pair, sharing one headless sound server: a tone captured at radio A is
// played by radio B, having crossed between the namespaces as multicast RTP.
#include "HalvaneChannel.h"
#include "MediaTestSupport.h"
#include "NetNamespace.h"
#include "ChildProcess.h"

#include <QSignalSpy>

#include <gtest/gtest.h>

#include <fstream>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace rvx::test;
using namespace std::chrono_literals;

const char* const kGroup = "225.4.0.9";

int Run(const std::vector<std::string>& arguments)
{
    const pid_t child = fork();
    if (child == 0) {
        std::vector<char*> argv;
        for (const std::string& a : arguments)
            argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Joins this namespace to the peer's by a veth pair, 10.77.0.1 here and
// 10.77.0.2 there, with multicast routed over it on both sides.
bool ConnectToPeerNamespace(pid_t peer)
{
    const std::string ns = std::to_string(peer);
    const std::vector<std::vector<std::string>> commands = {
        {"/usr/sbin/ip", "link", "add", "vetha", "type", "veth", "peer", "name", "vethb"},
        {"/usr/sbin/ip", "link", "set", "vethb", "netns", ns},
        {"/usr/sbin/ip", "addr", "add", "10.77.0.1/24", "dev", "vetha"},
        {"/usr/sbin/ip", "link", "set", "vetha", "up"},
        {"/usr/sbin/ip", "route", "replace", "224.0.0.0/4", "dev", "vetha"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "link", "set", "lo", "up"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "addr", "add", "10.77.0.2/24", "dev", "vethb"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "link", "set", "vethb", "up"},
        {"/usr/bin/nsenter", "-t", ns, "-n", "/usr/sbin/ip", "route", "add", "224.0.0.0/4", "dev", "vethb"},
    };
    for (const auto& command : commands)
        if (Run(command) != 0)
            return false;
    return true;
}

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
    ASSERT_TRUE(ConnectToPeerNamespace(radioB.Pid()));
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

} // namespace
