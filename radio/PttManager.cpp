// Push-to-talk arbitration: each input is stored, then the merged state is
// worked out again and announced only when it changed.
#include "PttManager.h"

PttManager_t* PttManager_t::instance()
{
    static PttManager_t* const arbiter = new PttManager_t;
    return arbiter;
}

void PttManager_t::ciMicPttChanged_Gui(bool active)
{
    guiPressed_ = active;
    testScreenPressed_ = false;
    reevaluate();
}

void PttManager_t::ciMicPttChanged_Hw(bool active)
{
    hardwarePressed_ = active;
    testScreenPressed_ = false;
    reevaluate();
}

void PttManager_t::ciMicPttChanged_TestScreen(bool active)
{
    testScreenPressed_ = active;
    reevaluate();
}

void PttManager_t::setPttBlockRxActive(bool rxActive)
{
    receiveActive_ = rxActive;
    reevaluate();
}

void PttManager_t::reevaluate()
{
    int newState = kReleased;
    if (guiPressed_ || hardwarePressed_ || testScreenPressed_)
        newState = receiveActive_ ? kPressedBlocked : kPressedFree;
    if (newState == state_)
        return;
    state_ = newState;
    emit coMicPttStateChanged();
}
