// The front-panel input loop, on a thread of its own at the highest
// priority: once start-up is complete it reads the PTT line of a hardware
// input when one is open, and each pass refreshes the manual own location.
#pragma once

#include <QObject>
#include <QString>

#include <atomic>
#include <optional>

class HardwareSignalManager : public QObject
{
    Q_OBJECT
public:
    // Keys of the unit's keypad, for hardware that reports them.
    enum radio_key_t { kNoKey = 0 };
    Q_ENUM(radio_key_t)

    static HardwareSignalManager* instance();

    // The hardware input to read the 4-byte state word from; -1 (none) by
    // default. Bit 0 of the word is the PTT line, low while pressed.
    void setHardwareInput(int descriptor) { hardwareInput_ = descriptor; }
    // One pass of the loop without its pause; for tests.
    void pollOnce();
    // Ends the loop within a slice of its pause; from any thread.
    void requestStop() { stopRequested_ = true; }

signals:
    void coMicPttChanged(bool active);
    // Declared for hardware this program does not read; never emitted.
    void coDtmfReceived(int decoder, int digit);
    void coKeyPressed(HardwareSignalManager::radio_key_t key);
    void coUsbStatusUpdate(QString status);
    void coButtonPressed_1();
    void coButtonPressed_2();
    void coButtonPressed_3();
    void coButtonPressed_4();
    void coButtonPressed_5();
    void coButtonPressed_6();
    void coButtonPressed_7();
    void coRightKnobUp();
    void coRightKnobDown();
    void coLeftKnobUp();
    void coLeftKnobDown();
    void coLeftKnobPressed();
    void coLeftKnobReleased();

public slots:
    // Runs until stopped: one pass about every second.
    void eventLoop();

private:
    HardwareSignalManager() = default;
    void pollHardwarePtt();

    std::atomic<bool> stopRequested_{false};
    int hardwareInput_ = -1;
    std::optional<bool> lastPttPressed_;
};
