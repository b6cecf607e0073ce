// The transmit state machine: from the merged PTT state it decides when the
// radio plays its key-up, busy and end tones and when it transmits.
#pragma once

// What the machine asks of the radio on its transitions.
class TxActions
{
public:
    virtual ~TxActions() = default;
    virtual void playEndTone() = 0;
    virtual void playKeyUpTone() = 0;
    virtual void playBusyTone(int durationMs) = 0;
    // reason is the log text: "Stopping busy tone" or "Stopping keyup tone".
    virtual void stopTones(const char* reason) = 0;
    virtual void startTxTimer(int ms) = 0;
    virtual bool txTimerRunning() const = 0;
};

class TxStateMachine
{
public:
    enum State {
        kTransmissionEnded = 0,
        kIdle = 1,
        kStartLongBusyTone = 2,
        kStartShortBusyTone = 3,
        kBusyTonePlaying = 4,
        kStartKeyUpTone = 5,
        kKeyUpTonePlaying = 6,
        kKeyUpFinished = 7,
        kTransmitting = 8,
    };
    static constexpr int kLongBusyToneMs = 5000;
    static constexpr int kShortBusyToneMs = 250;
    static constexpr int kKeyUpTimerMs = 250;

    explicit TxStateMachine(TxActions& actions) : actions_(actions) {}

    int state() const { return state_; }
    bool transmitting() const { return state_ == kTransmitting; }

    // One step with PTT state ptt (0 released, 1 blocked, 2 free); true when
    // the state changed.
    bool step(int ptt);

private:
    int nextState(int ptt);

    TxActions& actions_;
    int state_ = kIdle;
};
