// PTT arbitration: the merged state after sequences of inputs, and how many
// change signals each sequence gives.
#include "PttManager.h"

#include <gtest/gtest.h>

#include <QSignalSpy>

#include <functional>
#include <string>
#include <vector>

namespace {

using Input = std::function<void(PttManager_t&)>;

Input gui(bool on) { return [on](PttManager_t& m) { m.ciMicPttChanged_Gui(on); }; }
Input hw(bool on) { return [on](PttManager_t& m) { m.ciMicPttChanged_Hw(on); }; }
Input test(bool on) { return [on](PttManager_t& m) { m.ciMicPttChanged_TestScreen(on); }; }
Input rx(bool on) { return [on](PttManager_t& m) { m.setPttBlockRxActive(on); }; }

struct Case
{
    const char* name;
    std::vector<Input> inputs;
    int expectedState;
    int expectedSignals;
};

class PttSequenceTest : public ::testing::TestWithParam<Case>
{
};

TEST_P(PttSequenceTest, EndsInStateWithSignalCount)
{
    PttManager_t manager;
    QSignalSpy changes(&manager, &PttManager_t::coMicPttStateChanged);
    for (const Input& input : GetParam().inputs)
        input(manager);
    EXPECT_EQ(manager.state(), GetParam().expectedState);
    EXPECT_EQ(changes.count(), GetParam().expectedSignals);
}

INSTANTIATE_TEST_SUITE_P(
    Sequences, PttSequenceTest,
    ::testing::Values(
        Case{"GuiPressFree", {gui(true)}, 2, 1},
        Case{"GuiPressWhileReceiving", {rx(true), gui(true)}, 1, 1},
        Case{"ReceiveWhileReleasedIsSilent", {rx(true), rx(false)}, 0, 0},
        Case{"ReceiveBlocksThenFrees", {gui(true), rx(true), rx(false)}, 2, 3},
        Case{"GuiReleaseEndsPtt", {gui(true), gui(false)}, 0, 2},
        Case{"HardwareKeepsPttAfterGuiRelease", {hw(true), gui(true), gui(false)}, 2, 1},
        Case{"HardwareKeepsBlockedPttAfterGuiRelease", {rx(true), hw(true), gui(true), gui(false)}, 1, 1},
        Case{"TestScreenCancelledByGuiRelease", {test(true), gui(false)}, 0, 2},
        Case{"TestScreenCancelledByGuiPress", {test(true), gui(true), gui(false)}, 0, 2},
        Case{"TestScreenCancelledByHardwareEvent", {test(true), hw(false)}, 0, 2},
        Case{"TestScreenAloneReleases", {test(true), test(false)}, 0, 2},
        Case{"RepeatedPressEmitsOnce", {gui(true), gui(true), hw(true)}, 2, 1},
        Case{"RepeatedReleaseEmitsNothing", {gui(false), hw(false), test(false)}, 0, 0}),
    [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(PttManagerInstance, IsOneProcessWideArbiter)
{
    EXPECT_EQ(PttManager_t::instance(), PttManager_t::instance());
    EXPECT_EQ(PttManager_t::instance()->state(), 0);
}

} // namespace
