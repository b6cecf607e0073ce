// The program's only window, the front of the radio unit. It hosts the
// start-up sequence (run as the first event) and the restart, and turns
// mouse actions on the knobs, keys and PTT into front-panel signals.
#pragma once

#include "MainWindowForm.h"
#include "ScreenName.h"

#include <QMainWindow>
#include <QPoint>

class FrontPanelKeys;
class HardwareAudioChannel;
class LCD_t;
class QTimer;
class SettingsFileRetrievalAgent;
class VirtualRadio;
class TalkboxSettings;
class UI_Handler;

class MainWindow : public QMainWindow
{
    Q_OBJECT
public:
    enum class Startup { Queued, None };
    // Startup::None builds only the window, for tests of its controls.
    explicit MainWindow(QWidget* parent = nullptr, Startup startup = Startup::Queued);
    ~MainWindow() override;

    bool bypassRegistrationRequested() const { return bypassRegistration_; }
    bool finishRegistrationRequested() const { return finishRegistration_; }
    QTimer* oneSecondTimer() const { return oneSecondTimer_; }
    const MainWindowForm& form() const { return ui_; }
    TalkboxSettings* settingsDialog() const { return settingsDialog_; }
    bool pttPressed() const { return pttPressed_; }
    const FrontPanelKeys* keys() const { return keys_; }

public slots:
    // Brings the radio up; queued by the constructor, runs once.
    void startup();
    void miForceRestart();
    void miBypassRegistration(bool bypass);
    void miFinishRegistration(bool finish);
    // Stores "show_reg" (written at once) and processes pending events.
    void miShowRegistration(bool show);
    // Stores the window geometry and state and writes every pending setting
    // to the file now; also run when the application quits.
    void miSaveAppState();
    // Ends the event loop; the state is saved on the way out.
    void miCloseApplication();
    void miMinimizeWindow() { showMinimized(); }

    void on_pttButton_pressed();
    void on_pttButton_released();
    void ciAppFocusChanged(QWidget* old, QWidget* now);
    // Turns a channel-knob position into detent steps up or down.
    void ciConvertRightKnobPositionToUpDown(int position);
    // Moves the channel knob without producing steps.
    void viSetRightKnobPosition(int position);
    void viDisablePTTButton(bool hasMic);
    // The settings button: opens the settings dialog, or closes it when open.
    void on_settingsButton_clicked();
    // The "System Settings..." action: opens the dialog, or brings it to the front.
    void miOpenSystemSettings();

signals:
    void moRegistrationStatus(bool registered);
    void coSelectScreenFromBase(LcdScreens::screenName_t screen);
    void coPttButtonStateChanged(bool pressed);
    void coRightKnobUpFromWindowClass();
    void coRightKnobDownFromWindowClass();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void connectControls();
    void connectMenuActions();
    void connectKeyboard();
    // PTT pressed other than by the button itself (the keyboard); false when
    // the button is disabled or PTT is held already.
    bool pressPtt();
    void releasePtt();
    bool dragByTitleBar(QEvent* event);
    // Start-up steps of the front panel (FrontPanelStartup.cpp).
    void createFrontPanelDisplay();
    void connectOneSecondTimerToStateMachine();
    void connectRegistrationStatusToDisplay();
    void connectRadioViews(VirtualRadio* radio, SettingsFileRetrievalAgent* retrieval);
    void connectContactsAndMicrophone(VirtualRadio* radio, HardwareAudioChannel* audio);
    void connectControlsToRadio(VirtualRadio* radio);
    void connectSettingsDialogAndMenus();
    void connectModesAndCountdowns(VirtualRadio* radio);
    void connectTickerWatchdogNotice(HardwareAudioChannel* audio);
    void saveScreenshotWhenAsked();
    // Holds the user at the registration screen (RegistrationGate.cpp).
    void runRegistrationGate(QByteArray& cachedSettings);
    int pollRegistration();

    void runStartupSteps();
    void startNetworkInterfaceThread();
    void startOneSecondTimer();
    void readSettingsDocument(const QByteArray& cachedSettings);
    // Logs the registration state; true when the registration gate should run.
    bool logRegistrationState(const QByteArray& cachedSettings);

    MainWindowForm ui_;
    TalkboxSettings* settingsDialog_ = nullptr;
    FrontPanelKeys* keys_ = nullptr;
    LCD_t* lcd_ = nullptr;
    UI_Handler* uiHandler_ = nullptr;
    bool bypassRegistration_ = false;
    bool finishRegistration_ = false;
    QTimer* oneSecondTimer_ = nullptr;
    QPoint dragStart_;
    bool pttPressed_ = false;
    int knobEchoGuard_ = 0;
    bool knobPositionKnown_ = false;
    int lastKnobPosition_ = 0;
};
