// Transitions of the transmit state machine, one state per case.
#include "TxStateMachine.h"

namespace {

const int kReleased = 0;
const int kBlocked = 1;
const int kFree = 2;

} // namespace

bool TxStateMachine::step(int ptt)
{
    const int before = state_;
    state_ = nextState(ptt);
    return state_ != before;
}

int TxStateMachine::nextState(int ptt)
{
    switch (state_) {
    case kTransmissionEnded:
        actions_.playEndTone();
        return kIdle;
    case kIdle:
        if (ptt == kBlocked)
            return kStartLongBusyTone;
        return ptt == kFree ? kStartKeyUpTone : kIdle;
    case kStartLongBusyTone:
        actions_.playBusyTone(kLongBusyToneMs);
        return kBusyTonePlaying;
    case kStartShortBusyTone:
        actions_.playBusyTone(kShortBusyToneMs);
        return kBusyTonePlaying;
    case kBusyTonePlaying:
        if (ptt == kBlocked)
            return kBusyTonePlaying;
        actions_.stopTones("Stopping busy tone");
        return ptt == kFree ? kStartKeyUpTone : kIdle;
    case kStartKeyUpTone:
        actions_.playKeyUpTone();
        actions_.startTxTimer(kKeyUpTimerMs);
        return kKeyUpTonePlaying;
    case kKeyUpTonePlaying:
        if (ptt == kFree)
            return actions_.txTimerRunning() ? kKeyUpTonePlaying : kKeyUpFinished;
        actions_.stopTones("Stopping keyup tone");
        return ptt == kBlocked ? kStartLongBusyTone : kIdle;
    case kKeyUpFinished:
        if (ptt == kReleased)
            return kIdle;
        return ptt == kBlocked ? kStartLongBusyTone : kTransmitting;
    case kTransmitting:
        if (ptt == kReleased)
            return kTransmissionEnded;
        return ptt == kBlocked ? kStartShortBusyTone : kTransmitting;
    default:
        // A state outside the table cannot arise; fall back to idle.
        return kIdle;
    }
}
