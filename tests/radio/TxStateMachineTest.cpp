// The transmit state machine as a table: every (TX state, PTT state) pair,
// with the tones and timer requests each transition makes.
#include "TxStateMachine.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

class RecordingActions : public TxActions
{
public:
    void playEndTone() override { calls += "end;"; }
    void playKeyUpTone() override { calls += "keyup;"; }
    void playBusyTone(int ms) override { calls += "busy" + std::to_string(ms) + ";"; }
    void stopTones(const char* reason) override { calls += std::string("stop(") + reason + ");"; }
    void startTxTimer(int ms) override
    {
        calls += "timer" + std::to_string(ms) + ";";
        timerRunning = true;
    }
    bool txTimerRunning() const override { return timerRunning; }

    std::string calls;
    bool timerRunning = false;
};

// Brings a machine from idle to the wanted state through PTT steps; the key-up
// timer is taken as expired where the path needs it.
void reach(TxStateMachine& machine, RecordingActions& actions, int state)
{
    auto stepFree = [&] { machine.step(2); };
    switch (state) {
    case 1: break;
    case 2: machine.step(1); break;
    case 4: machine.step(1); machine.step(1); break;
    case 5: stepFree(); break;
    case 6: stepFree(); stepFree(); break;
    case 7: stepFree(); stepFree(); actions.timerRunning = false; stepFree(); break;
    case 8: reach(machine, actions, 7); stepFree(); break;
    case 0: reach(machine, actions, 8); machine.step(0); break;
    case 3: reach(machine, actions, 8); machine.step(1); break;
    }
    ASSERT_EQ(machine.state(), state);
    actions.calls.clear();
}

struct Row
{
    int from;
    int ptt;
    bool timerRunning;
    int to;
    const char* calls;
};

class TxTableTest : public ::testing::TestWithParam<Row>
{
};

TEST_P(TxTableTest, OneStep)
{
    const Row& row = GetParam();
    RecordingActions actions;
    TxStateMachine machine(actions);
    reach(machine, actions, row.from);
    actions.timerRunning = row.timerRunning;
    const bool changed = machine.step(row.ptt);
    EXPECT_EQ(machine.state(), row.to);
    EXPECT_EQ(changed, row.from != row.to);
    EXPECT_EQ(actions.calls, row.calls);
    EXPECT_EQ(machine.transmitting(), row.to == 8);
}

const char* const kStopBusy = "stop(Stopping busy tone);";
const char* const kStopKeyUp = "stop(Stopping keyup tone);";

INSTANTIATE_TEST_SUITE_P(
    EveryPair, TxTableTest,
    ::testing::Values(
        Row{0, 0, false, 1, "end;"}, Row{0, 1, false, 1, "end;"}, Row{0, 2, false, 1, "end;"},
        Row{1, 0, false, 1, ""}, Row{1, 1, false, 2, ""}, Row{1, 2, false, 5, ""},
        Row{2, 0, false, 4, "busy5000;"}, Row{2, 1, false, 4, "busy5000;"}, Row{2, 2, false, 4, "busy5000;"},
        Row{3, 0, false, 4, "busy250;"}, Row{3, 1, false, 4, "busy250;"}, Row{3, 2, false, 4, "busy250;"},
        Row{4, 0, false, 1, kStopBusy}, Row{4, 1, false, 4, ""}, Row{4, 2, false, 5, kStopBusy},
        Row{5, 0, false, 6, "keyup;timer250;"}, Row{5, 1, false, 6, "keyup;timer250;"},
        Row{5, 2, false, 6, "keyup;timer250;"},
        Row{6, 0, true, 1, kStopKeyUp}, Row{6, 1, true, 2, kStopKeyUp}, Row{6, 2, true, 6, ""},
        Row{6, 2, false, 7, ""},
        Row{7, 0, false, 1, ""}, Row{7, 1, false, 2, ""}, Row{7, 2, false, 8, ""},
        Row{8, 0, false, 0, ""}, Row{8, 1, false, 3, ""}, Row{8, 2, false, 8, ""}),
    [](const ::testing::TestParamInfo<Row>& info) {
        const Row& r = info.param;
        return "From" + std::to_string(r.from) + "Ptt" + std::to_string(r.ptt) + (r.timerRunning ? "TimerRunning" : "");
    });

} // namespace
