// The halvane-relay program itself, on 127.0.0.1: help, forwarding, the
// control interface and the counters it prints when it stops.
#include "RelayProcess.h"

#include "UdpEndpoint.h"

#include <csignal>
#include <gtest/gtest.h>
#include <sys/wait.h>

using rvx::test::Bytes;
using rvx::test::ChildProcess;
using rvx::test::HexBytes;
using rvx::test::RelayProcess;
using rvx::test::UdpEndpoint;

namespace {

// Subscription list of device 0x000101 with the group 239.0.0.1.
const char* kListOne = "05 00 00 00 01 01 00 00 00 01 00 00 EF";
// Group message for 239.0.0.1 with a two-byte payload.
const char* kMessage = "02 01 00 00 02 02 00 00 01 00 00 EF AA BB";

TEST(RelayProgram, HelpDocumentsTheUsageAndExitsCleanly)
{
    ChildProcess help(rvx::test::RelayProgram(), {"--help"});
    const std::string text = help.ReadRest();
    EXPECT_NE(text.find("Usage:"), std::string::npos);
    EXPECT_NE(text.find("notify DEVICE_ID"), std::string::npos);
    EXPECT_NE(text.find("--subscriber-timeout"), std::string::npos);
    const auto status = help.Wait();
    ASSERT_TRUE(status);
    EXPECT_EQ(WEXITSTATUS(*status), 0);

    ChildProcess wrong(rvx::test::RelayProgram(), {"--no-such-option"});
    const auto wrongStatus = wrong.Wait();
    ASSERT_TRUE(wrongStatus);
    EXPECT_EQ(WEXITSTATUS(*wrongStatus), 2);
}

TEST(RelayProgram, ForwardsCountsAndReportsOnExit)
{
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    UdpEndpoint subscriber, sender;
    subscriber.SendTo(relay.TrunkPort(), HexBytes(kListOne));
    EXPECT_EQ(relay.Counter("subscribers"), 1); // the control reply also orders the test after the list
    sender.SendTo(relay.TrunkPort(), HexBytes(kMessage));
    const auto forwarded = subscriber.Receive();
    ASSERT_TRUE(forwarded);
    EXPECT_EQ(*forwarded, HexBytes(kMessage));

    sender.SendTo(relay.TrunkPort(), {0x03, 0x00});
    sender.SendTo(relay.TrunkPort(), {0x02});
    EXPECT_EQ(relay.Counter("unknown_type"), 1);
    EXPECT_EQ(relay.Counter("malformed"), 1);
    EXPECT_EQ(relay.Ask("notify 0x101"), "notified 1\n");
    const auto notice = subscriber.Receive();
    ASSERT_TRUE(notice);
    EXPECT_EQ(rvx::test::ToHex(*notice), "04 00 00 00 00 00 00 00 01 00 00 00");
    EXPECT_EQ(relay.Ask("nonsense"), "error: unknown request\n");

    relay.Process().Signal(SIGTERM);
    const std::string report = relay.Process().ReadRest();
    EXPECT_NE(report.find("forwarded 1\n"), std::string::npos) << report;
    EXPECT_NE(report.find("notifications_sent 1\n"), std::string::npos) << report;
    const auto status = relay.Process().Wait();
    ASSERT_TRUE(status);
    EXPECT_TRUE(WIFEXITED(*status));
}

TEST(RelayProgram, CommandLineClientTalksToARunningRelay)
{
    RelayProcess relay;
    ASSERT_TRUE(relay.Started());
    const std::string port = std::to_string(relay.ControlPort());
    ChildProcess notify(rvx::test::RelayProgram(), {"--control-port", port, "notify", "42"});
    EXPECT_EQ(notify.ReadRest(), "notified 0\n");
    ChildProcess stop(rvx::test::RelayProgram(), {"--control-port", port, "stop"});
    EXPECT_EQ(stop.ReadRest(), "stopping\n");
    EXPECT_TRUE(relay.Process().Wait());
}

} // namespace
