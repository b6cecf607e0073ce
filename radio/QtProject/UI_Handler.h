// The front-panel key state machine: turns key presses, knob steps, volume
// changes and microphone PTT changes into requests to the display, the
// radio model, the PTT arbitration and the start-up logic, according to the
// screen the display currently shows.
#pragma once

#include "ScreenName.h"

#include <QObject>
#include <QString>

#include <functional>

class UI_Handler : public QObject
{
    Q_OBJECT
public:
    // Event numbers: keys 1 to 8 give 0 to 7.
    enum Event {
        kRightKnobUpEvent = 8,
        kRightKnobDownEvent = 9,
        kVolumeChangedEvent = 12,
        kMicPttStateEvent = 13,
    };
    static constexpr int kHomeKeyEvent = 5;
    static constexpr int kSelectKeyEvent = 2;

    explicit UI_Handler(QObject* parent = nullptr);

    int currentScreen() const { return currentScreen_; }
    int secondsElapsed() const { return secondsElapsed_; }
    bool selfTestPtt() const { return selfTestPtt_; }
    // True every 15 s during the first ten minutes.
    bool registrationPollDue() const;

    // Runs before the restart and reboot actions: by default processes
    // pending events and waits one second; tests make it instant.
    void setPauseBeforeAction(std::function<void()> pause) { pauseBeforeAction_ = std::move(pause); }
    // The pressed state of the microphone PTT, asked for on the contacts screen.
    void setMicPttPressedQuery(std::function<bool()> query) { micPttPressed_ = std::move(query); }
    // Restarts the unit; by default the platform's reboot.
    void setRebootAction(std::function<void()> reboot) { reboot_ = std::move(reboot); }

public slots:
    void miKey1_PressedEvent() { dispatch(0); }
    void miKey2_PressedEvent() { dispatch(1); }
    void miKey3_PressedEvent() { dispatch(2); }
    void miKey4_PressedEvent() { dispatch(3); }
    void miKey5_PressedEvent() { dispatch(4); }
    void miKey6_PressedEvent() { dispatch(5); }
    void miKey7_PressedEvent() { dispatch(6); }
    void miKey8_PressedEvent() { dispatch(7); }
    void miRightKnobUp() { dispatch(kRightKnobUpEvent); }
    void miRightKnobDown() { dispatch(kRightKnobDownEvent); }
    void miVolumeChangedEvent(int) { dispatch(kVolumeChangedEvent); }
    void miUpdateUiMicPttState() { dispatch(kMicPttStateEvent); }
    void miCurrentScreenFeedback(LcdScreens::screenName_t screen);
    void miOneSecondElapsed() { ++secondsElapsed_; }

signals:
    void coSelectScreen(LcdScreens::screenName_t screen);
    void coChannelUpUi();
    void coChannelDownUi();
    void coIncreaseZone();
    void coDecreaseZone();
    void coContactCursorUp();
    void coContactCursorDown();
    void coPlaceIndividualCallToContactUnderCursor();
    void coEndIndividualCall();
    void coPaModeStart();
    void coPaModeEnd();
    void coEmergencyStatusStart();
    void volumeChangedSignal();
    void moUpdateMicPttState();
    void coSelfTestPttChanged(bool active);
    void coBypassRegistration(bool bypass);
    void coFinishRegistration(bool finish);
    void miShowRegistration(bool show);
    void coRestartTalkboxSetupButton();
    void coSetSoftwareUpdateStatus(QString status);
    void coSetSettingsFromUsbStatus(QString status);
    // Declared for the unit's other inputs; no handler emits them.
    void selectNextNetworkInterface();
    void coSelfTestRemoteDebugAccessChanged(bool active);
    void coShowRemoteDebugAccessButton(bool visible);
    void coSelectContact();

private:
    void dispatch(int event);
    void runScreenHandler(int event);
    void registrationScreenHandler(int event);
    void homeScreenHandler(int event);
    void contactScreenHandler(int event);
    void setupScreenHandler(int event);
    void setupSettingsScreenHandler(int event);
    void updateSettingsFromUsbScreenHandler(int event);
    void networkAndWirelessScreenHandler(int event);
    void softwareUpdateScreenHandler(int event);
    void selfTestScreenHandler(int event);
    void unableToRegisterScreenHandler(int event);
    void homeKeyGoesHome(int event);

    int currentScreen_ = LcdScreens::splashScreen;
    int secondsElapsed_ = 0;
    bool selfTestPtt_ = false;
    std::function<void()> pauseBeforeAction_;
    std::function<bool()> micPttPressed_;
    std::function<void()> reboot_;
};
