// The widgets of the emulated 320 x 240 display: a black status bar over a
// stack of nineteen pages, built in code with fixed pixel fonts so that the
// display looks the same on every screen resolution.
#pragma once

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QListWidget;
class QProgressBar;
class QStackedWidget;
class QWidget;

struct LcdForm
{
    // Builds every widget as a child of the display widget.
    void setupUi(QWidget* lcd);

    QFrame* statusBar = nullptr;
    QLabel* labelRX = nullptr;
    QLabel* labelTX = nullptr;
    QLabel* emergencyStatusIndicator = nullptr;
    QLabel* selectedZone = nullptr;
    QLabel* volumeStatusBarLabel = nullptr;
    QLabel* tbSignalBarIndicator = nullptr;

    QStackedWidget* stackedWidget = nullptr;

    QLabel* registrationCodeLabel = nullptr;
    QLabel* registrationRichText = nullptr;
    QLabel* registrationNoteLabel = nullptr;
    QLabel* finishedLegend = nullptr;
    QLabel* skipRegistrationLegend = nullptr;

    QComboBox* talkGroupComboBox = nullptr;
    QLabel* channelLockIcon = nullptr;
    QLabel* channelPrivacyNote = nullptr;
    QStackedWidget* stackedWidgetVolumeCallerId = nullptr;
    QProgressBar* homeVolumeBar = nullptr;
    QLabel* labelCallerID = nullptr;
    QLabel* callerIdNumberLabel = nullptr;
    QLabel* callerDistanceLabel = nullptr;
    QLabel* homeSettingsIcon = nullptr;

    QProgressBar* paVolumeBar = nullptr;
    QLabel* paTimeoutLabel = nullptr;
    QProgressBar* paTimeoutBar = nullptr;

    QListWidget* listWidget = nullptr;

    QLabel* myLatitudeLabel = nullptr;
    QLabel* myLongitudeLabel = nullptr;
    QLabel* lastContactNameLabel = nullptr;
    QLabel* lastContactPositionLabel = nullptr;
    QLabel* gpsDistanceLabel = nullptr;

    QLabel* radioNameLabel = nullptr;
    QLabel* ownerLabel = nullptr;
    QLabel* deviceIdLabel = nullptr;
    QLabel* keyHashLabel = nullptr;
    QLabel* softwareVersionEntry = nullptr;

    QCheckBox* registeredCheckBox = nullptr;
    QCheckBox* settingsUpdatedCheckBox = nullptr;
    QLabel* usbSettingsEntry = nullptr;
    QLabel* webUpdateEntry = nullptr;

    QLabel* usbStatusLabel = nullptr;

    QLabel* selectedInterfaceLabel = nullptr;
    QLabel* networkReadyLabel = nullptr;
    QLabel* ipAddressLabel = nullptr;

    QLabel* restartingMessage = nullptr;

    QLabel* versionText = nullptr;
    QLabel* updateNowEntry = nullptr;
    QLabel* softwareUpdateStatusLabel = nullptr;

    QLabel* pttToggleEntry = nullptr;
    QLabel* remoteDebugEntry = nullptr;

    QLabel* individualCallName = nullptr;
    QLabel* individualCallIdLabel = nullptr;
    QLabel* individualCallDistance = nullptr;
    QLabel* callTimeoutLabel = nullptr;
    QProgressBar* callTimeoutBar = nullptr;

private:
    QWidget* addPage(const char* name);
    void buildStatusBar(QWidget* lcd);
    void buildSplashPage();
    void buildRegistrationPage();
    void buildHomePage();
    void buildVolumeCallerIdStack(QWidget* home);
    void buildPaModePage();
    void buildContactPage();
    void buildEmergencyPage();
    void buildGpsPage();
    void buildSetupPage();
    void buildSetupSettingsPage();
    void buildUpdateSettingsFromUsbPage();
    void buildNetworkAndWirelessPage();
    void buildRestartingPage();
    void buildSoftwareUpdatePage();
    void buildSoftwareUpdate2Page();
    void buildNetworkConnectionPage();
    void buildSelfTestPage();
    void buildUnableToRegisterPage();
    void buildIndividualCallPage();
    void buildWaitingForStandbyPage();
};
