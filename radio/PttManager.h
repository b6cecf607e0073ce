// Push-to-talk arbitration: merges the PTT inputs of the unit into one state
// and holds transmission back while the radio is receiving.
#pragma once

#include <QObject>

class PttManager_t : public QObject
{
    Q_OBJECT
public:
    enum State { kReleased = 0, kPressedBlocked = 1, kPressedFree = 2 };

    // The process-wide arbiter, created on first use and never destroyed.
    static PttManager_t* instance();

    // Separate arbiters are made only by tests.
    PttManager_t() = default;

    int state() const { return state_; }

public slots:
    // The main window's PTT button; any event cancels the self-test PTT.
    void ciMicPttChanged_Gui(bool active);
    // The hardware PTT input; any event cancels the self-test PTT.
    void ciMicPttChanged_Hw(bool active);
    // The PTT test of the self-test screen.
    void ciMicPttChanged_TestScreen(bool active);
    // Receive activity reported by the radio model.
    void setPttBlockRxActive(bool rxActive);

signals:
    void coMicPttStateChanged();

private:
    void reevaluate();

    int state_ = kReleased;
    bool guiPressed_ = false;
    bool hardwarePressed_ = false;
    bool testScreenPressed_ = false;
    bool receiveActive_ = false;
};
