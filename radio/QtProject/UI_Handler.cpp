// Dispatch of front-panel events to the handler of the screen shown.
#include "UI_Handler.h"

#include "PttManager.h"
#include "UnitReboot.h"
#include "debug_log.h"

#include <QCoreApplication>
#include <QThread>

using namespace LcdScreens;

namespace {

constexpr int kRegistrationPollSeconds = 15;
constexpr int kRegistrationPollWindowSeconds = 600;

void processEventsAndWaitOneSecond()
{
    QCoreApplication::processEvents();
    QThread::sleep(1);
}

} // namespace

UI_Handler::UI_Handler(QObject* parent)
    : QObject(parent),
      pauseBeforeAction_(processEventsAndWaitOneSecond),
      micPttPressed_([] { return PttManager_t::instance()->state() != PttManager_t::kReleased; }),
      reboot_([] { UnitReboot::rebootUnit(); })
{
}

bool UI_Handler::registrationPollDue() const
{
    return secondsElapsed_ < kRegistrationPollWindowSeconds && secondsElapsed_ % kRegistrationPollSeconds == 0;
}

void UI_Handler::miCurrentScreenFeedback(screenName_t screen)
{
    currentScreen_ = screen;
    debug_log_printf("ENABLE_UIHANDLER_DEBUG", "UI_Handler recording screen index: %d\n", currentScreen_);
}

void UI_Handler::dispatch(int event)
{
    debug_log_printf("ENABLE_UIHANDLER_DEBUG", "Calling event handler for screen index: %d with event: %d\n",
                     currentScreen_, event);
    runScreenHandler(event);
    if (event == kMicPttStateEvent)
        emit moUpdateMicPttState();
}

void UI_Handler::runScreenHandler(int event)
{
    switch (currentScreen_) {
    case registrationScreen: registrationScreenHandler(event); break;
    case homeScreen: homeScreenHandler(event); break;
    case paModeScreen:
        if (event == kHomeKeyEvent)
            emit coPaModeEnd();
        break;
    case contactScreen: contactScreenHandler(event); break;
    case emergencyScreen:
        if (event == kSelectKeyEvent)
            emit coSelectScreen(homeScreen);
        break;
    case gpsScreen: homeKeyGoesHome(event); break;
    case setupScreen: setupScreenHandler(event); break;
    case setupSettingsScreen: setupSettingsScreenHandler(event); break;
    case updateSettingsFromUsbScreen: updateSettingsFromUsbScreenHandler(event); break;
    case networkAndWirelessSettingsScreen: networkAndWirelessScreenHandler(event); break;
    case softwareUpdateScreen: softwareUpdateScreenHandler(event); break;
    case softwareUpdate2Screen:
        if (event == kSelectKeyEvent)
            emit coSelectScreen(homeScreen);
        break;
    case selfTestScreen: selfTestScreenHandler(event); break;
    case unableToRegisterScreen: unableToRegisterScreenHandler(event); break;
    case individualCallScreen:
        if (event == kHomeKeyEvent)
            emit coEndIndividualCall();
        break;
    default:  // splash, restarting, network wait, standby: keys do nothing
        break;
    }
}

void UI_Handler::homeKeyGoesHome(int event)
{
    if (event == kHomeKeyEvent)
        emit coSelectScreen(homeScreen);
}

void UI_Handler::registrationScreenHandler(int event)
{
    if (event == kSelectKeyEvent)
        emit coFinishRegistration(true);
    else if (event == kHomeKeyEvent)
        emit coBypassRegistration(true);
}

void UI_Handler::homeScreenHandler(int event)
{
    switch (event) {
    case 0: emit coSelectScreen(contactScreen); break;
    case 1: emit coSelectScreen(setupScreen); break;
    case 2: emit coDecreaseZone(); break;
    case 3: emit coPaModeStart(); break;
    case 4: emit coSelectScreen(gpsScreen); break;
    case 5: emit coIncreaseZone(); break;
    case 6: emit coEmergencyStatusStart(); break;
    case kRightKnobUpEvent: emit coChannelUpUi(); break;
    case kRightKnobDownEvent: emit coChannelDownUi(); break;
    case kVolumeChangedEvent: emit volumeChangedSignal(); break;
    default: break;
    }
}

void UI_Handler::contactScreenHandler(int event)
{
    switch (event) {
    case kSelectKeyEvent: emit coPlaceIndividualCallToContactUnderCursor(); break;
    case kHomeKeyEvent: emit coSelectScreen(homeScreen); break;
    case kRightKnobUpEvent: emit coContactCursorUp(); break;
    case kRightKnobDownEvent: emit coContactCursorDown(); break;
    case kMicPttStateEvent:
        if (micPttPressed_())
            emit coPlaceIndividualCallToContactUnderCursor();
        break;
    default: break;
    }
}

void UI_Handler::setupScreenHandler(int event)
{
    switch (event) {
    case 1: emit coSelectScreen(networkAndWirelessSettingsScreen); break;
    case 2: emit coSelectScreen(softwareUpdateScreen); break;
    case 3: emit coSelectScreen(selfTestScreen); break;
    case 4: emit coSelectScreen(setupSettingsScreen); break;
    case kHomeKeyEvent: emit coSelectScreen(homeScreen); break;
    default: break;
    }
}

void UI_Handler::setupSettingsScreenHandler(int event)
{
    if (event == 1) {
        emit coSelectScreen(restartingScreen);
        pauseBeforeAction_();
        emit miShowRegistration(true);
        emit coRestartTalkboxSetupButton();
    } else {
        homeKeyGoesHome(event);
    }
}

void UI_Handler::updateSettingsFromUsbScreenHandler(int event)
{
    if (event == kSelectKeyEvent) {
        debug_log_printf_always("Rebooting...\n");
        emit coSetSettingsFromUsbStatus(QStringLiteral("Rebooting..."));
        pauseBeforeAction_();
        reboot_();
    } else {
        homeKeyGoesHome(event);
    }
}

void UI_Handler::networkAndWirelessScreenHandler(int event)
{
    if (event >= 0 && event <= 2) {
        pauseBeforeAction_();
        reboot_();
    } else {
        homeKeyGoesHome(event);
    }
}

void UI_Handler::softwareUpdateScreenHandler(int event)
{
    debug_log_printf_always("This is softwareUpdateScreenHandler\n");
    if (event == kSelectKeyEvent)
        debug_log_printf_always("Going to softwareUpdate2Screen\n");
    else
        homeKeyGoesHome(event);
}

void UI_Handler::selfTestScreenHandler(int event)
{
    debug_log_printf_always("Self test event: %d\n", event);
    if (event == kSelectKeyEvent) {
        selfTestPtt_ = !selfTestPtt_;
        debug_log_printf_always("Self test PTT: %d\n", selfTestPtt_ ? 1 : 0);
        emit coSelfTestPttChanged(selfTestPtt_);
    } else {
        homeKeyGoesHome(event);
    }
}

void UI_Handler::unableToRegisterScreenHandler(int event)
{
    debug_log_printf_always("unableToRegisterScreenHandler event: %d\n", event);
    registrationScreenHandler(event);
}
