// The display's screen numbers: each is the page index of the display's
// page stack, shared by the display, the key state machine and the window.
#pragma once

namespace LcdScreens {

enum screenName_t {
    splashScreen = 0,
    registrationScreen = 1,
    homeScreen = 2,
    paModeScreen = 3,
    contactScreen = 4,
    emergencyScreen = 5,
    gpsScreen = 6,
    setupScreen = 7,
    setupSettingsScreen = 8,
    updateSettingsFromUsbScreen = 9,
    networkAndWirelessSettingsScreen = 10,
    restartingScreen = 11,
    softwareUpdateScreen = 12,
    softwareUpdate2Screen = 13,
    networkConnectionScreen = 14,
    selfTestScreen = 15,
    unableToRegisterScreen = 16,
    individualCallScreen = 17,
    waitingForStandbyScreen = 18,
};

constexpr int kScreenCount = 19;

} // namespace LcdScreens
