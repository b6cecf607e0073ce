// The start-up steps that create the display and the key state machine and
// wire the front panel, the settings dialog, the radio model, the contacts,
// the PTT arbitration and the audio channel together.
#include "MainWindow.h"

#include "ContactsManager.h"
#include "HardwareAudioChannel.h"
#include "LCD_t.h"
#include "MyLocationManager.h"
#include "NetworkInterfaceManager.h"
#include "PttManager.h"
#include "SettingsFileRetrievalAgent.h"
#include "TalkboxSettings.h"
#include "UI_Handler.h"
#include "VirtualRadio.h"
#include "debug_log.h"

#include <QCoreApplication>
#include <QDial>
#include <QLayout>
#include <QPushButton>
#include <QTimer>

namespace {

// Where the display sits on the picture of the unit's front.
const QRect kDisplayRect(430, 50, 320, 240);
constexpr int kScreenshotDelayMs = 500;

} // namespace

void MainWindow::createFrontPanelDisplay()
{
    lcd_ = new LCD_t(centralWidget());
    uiHandler_ = new UI_Handler(this);
    lcd_->setGeometry(kDisplayRect);
    lcd_->show();

    void (UI_Handler::*keySlots[MainWindowForm::kKeyCount])() = {
        &UI_Handler::miKey1_PressedEvent, &UI_Handler::miKey2_PressedEvent, &UI_Handler::miKey3_PressedEvent,
        &UI_Handler::miKey4_PressedEvent, &UI_Handler::miKey5_PressedEvent, &UI_Handler::miKey6_PressedEvent,
        &UI_Handler::miKey7_PressedEvent};
    for (int key = 0; key < MainWindowForm::kKeyCount; ++key)
        connect(ui_.keys[key], &QPushButton::clicked, uiHandler_, keySlots[key]);
    connect(uiHandler_, &UI_Handler::coBypassRegistration, this, &MainWindow::miBypassRegistration);
    connect(uiHandler_, &UI_Handler::coFinishRegistration, this, &MainWindow::miFinishRegistration);
    connect(lcd_, &LCD_t::voCurrentScreenFeedback, uiHandler_, &UI_Handler::miCurrentScreenFeedback);
    connect(uiHandler_, &UI_Handler::coSelectScreen, lcd_, &LCD_t::viSelectScreen);
    connect(this, &MainWindow::coSelectScreenFromBase, lcd_, &LCD_t::viSelectScreen);
    // From the network worker's first pass on (it starts after the display).
    connect(NetworkInterfaceManager_t::instance(), &NetworkInterfaceManager_t::moUpdateNetworkState, lcd_,
            &LCD_t::viUpdateNetworkState);

    emit coSelectScreenFromBase(LcdScreens::splashScreen);
    QCoreApplication::processEvents();
}

void MainWindow::connectOneSecondTimerToStateMachine()
{
    connect(oneSecondTimer_, &QTimer::timeout, uiHandler_, &UI_Handler::miOneSecondElapsed);
}

void MainWindow::connectRegistrationStatusToDisplay()
{
    connect(this, &MainWindow::moRegistrationStatus, lcd_, &LCD_t::viUpdateRegistrationStatus);
}

void MainWindow::connectRadioViews(VirtualRadio* radio, SettingsFileRetrievalAgent* retrieval)
{
    connect(retrieval, &SettingsFileRetrievalAgent::coUpdatedSettingsNotification, lcd_,
            &LCD_t::viDisplayRestartingScreen);
    connect(retrieval, &SettingsFileRetrievalAgent::settingsFileRetrievalStatusUpdated, lcd_,
            &LCD_t::updateSettingsScreenHalvaneInfo);
    connect(retrieval, &SettingsFileRetrievalAgent::settingsFileRetrievalStatusUpdated, settingsDialog_,
            &TalkboxSettings::updateAboutTab);
    connect(radio, &VirtualRadio::moSetVolume, ui_.leftKnob, &QDial::setValue);
    connect(ui_.leftKnob, &QDial::valueChanged, radio, &VirtualRadio::miSetVolume);
    connect(ui_.leftKnob, &QDial::valueChanged, uiHandler_, &UI_Handler::miVolumeChangedEvent);
    connect(uiHandler_, &UI_Handler::volumeChangedSignal, lcd_, &LCD_t::viShowVolumeLevel);
    connect(radio, &VirtualRadio::moChannelIndexChanged, lcd_, &LCD_t::viSetChannelIndex);
    connect(radio, &VirtualRadio::moCurrentZoneName, lcd_, &LCD_t::viCurrentZoneName);
    connect(radio, &VirtualRadio::moNewChannelList, lcd_, &LCD_t::viSetComboBoxChannelList);
    connect(lcd_, &LCD_t::coSetChannelFromLcd, radio, &VirtualRadio::miSetRadioChannel);
    connect(radio, &VirtualRadio::moCurrentChannelPrivacy, lcd_, &LCD_t::viCurrentChannelPrivacy);
    connect(radio, &VirtualRadio::moIncomingCallEncrypted, lcd_, &LCD_t::viChannelCallEncrypted);
}

void MainWindow::connectContactsAndMicrophone(VirtualRadio* radio, HardwareAudioChannel* audio)
{
    ContactsManager* contacts = ContactsManager::instance();
    connect(contacts, &ContactsManager::moContactListChanged, lcd_, &LCD_t::viUpdateContactList);
    connect(contacts, &ContactsManager::moContactChanged, lcd_, &LCD_t::viUpdateContactInfo);
    lcd_->viUpdateContactList();
    connect(radio, &VirtualRadio::moSetVolume, lcd_, &LCD_t::viSetVolumeLcd);
    connect(audio, &HardwareAudioChannel::coIsMicPresent, this, &MainWindow::viDisablePTTButton);
    // The audio channel reported its microphone when it was made, before
    // this link existed: apply that report now.
    viDisablePTTButton(audio->microphonePresent());
    // The volume was restored before the links to the display existed.
    lcd_->viSetVolumeLcd(radio->volume());
    ui_.leftKnob->setValue(radio->volume());
}

void MainWindow::connectControlsToRadio(VirtualRadio* radio)
{
    PttManager_t* ptt = PttManager_t::instance();
    connect(radio, &VirtualRadio::moChannelIndexChanged, this, &MainWindow::viSetRightKnobPosition);
    connect(this, &MainWindow::coRightKnobUpFromWindowClass, uiHandler_, &UI_Handler::miRightKnobUp);
    connect(this, &MainWindow::coRightKnobDownFromWindowClass, uiHandler_, &UI_Handler::miRightKnobDown);
    connect(ui_.downChannel, &QPushButton::clicked, this, &MainWindow::coRightKnobDownFromWindowClass);
    connect(ui_.upChannel, &QPushButton::clicked, this, &MainWindow::coRightKnobUpFromWindowClass);
    connect(uiHandler_, &UI_Handler::coChannelUpUi, radio, &VirtualRadio::miSelectChannelNext);
    connect(uiHandler_, &UI_Handler::coChannelDownUi, radio, &VirtualRadio::miSelectChannelPrevious);
    connect(uiHandler_, &UI_Handler::coContactCursorUp, lcd_, &LCD_t::viContactCursorUp);
    connect(uiHandler_, &UI_Handler::coContactCursorDown, lcd_, &LCD_t::viContactCursorDown);
    connect(uiHandler_, &UI_Handler::coPlaceIndividualCallToContactUnderCursor, lcd_,
            &LCD_t::miPlaceIndividualCallToContactUnderCursor);
    connect(this, &MainWindow::coPttButtonStateChanged, ptt, &PttManager_t::ciMicPttChanged_Gui);
    connect(uiHandler_, &UI_Handler::coSelfTestPttChanged, ptt, &PttManager_t::ciMicPttChanged_TestScreen);
    connect(ptt, &PttManager_t::coMicPttStateChanged, uiHandler_, &UI_Handler::miUpdateUiMicPttState);
    connect(radio, &VirtualRadio::moRxActivityUpdate, ptt, &PttManager_t::setPttBlockRxActive);
    connect(uiHandler_, &UI_Handler::moUpdateMicPttState, radio, &VirtualRadio::miUpdateTxState);
    connect(radio, &VirtualRadio::moRxActivityUpdate, lcd_, &LCD_t::viUpdateRxActivity);
    connect(radio, &VirtualRadio::moTxActiveUpdate, lcd_, &LCD_t::viUpdateTxActivity);
    connect(radio, &VirtualRadio::moIncomingChannelCallCallerIDUpdate, lcd_, &LCD_t::viChannelCallContactID);
    connect(ui_.leftKnob, &QDial::sliderMoved, radio, &VirtualRadio::miSetVolume);
    connectSettingsDialogAndMenus();
    connect(uiHandler_, &UI_Handler::coIncreaseZone, radio, &VirtualRadio::miSelectZoneNext);
    connect(uiHandler_, &UI_Handler::coDecreaseZone, radio, &VirtualRadio::miSelectZonePrevious);
    connect(uiHandler_, &UI_Handler::coEmergencyStatusStart, lcd_, &LCD_t::viEmergencyStatusStart);
    connect(oneSecondTimer_, &QTimer::timeout, lcd_, &LCD_t::viEmergencyStatusUpdate);
}

void MainWindow::connectSettingsDialogAndMenus()
{
    connect(settingsDialog_, &TalkboxSettings::coRegisterButtonRestart, this, &MainWindow::miForceRestart);
    connect(settingsDialog_, &TalkboxSettings::miShowRegistration, this, &MainWindow::miShowRegistration);
    connect(settingsDialog_, &TalkboxSettings::coSelectScreenFromSettings, lcd_, &LCD_t::viSelectScreen);
    connect(uiHandler_, &UI_Handler::coRestartTalkboxSetupButton, this, &MainWindow::miForceRestart);
    connect(uiHandler_, &UI_Handler::miShowRegistration, this, &MainWindow::miShowRegistration);
    connect(uiHandler_, &UI_Handler::coSetSoftwareUpdateStatus, lcd_, &LCD_t::viUpdateSoftwareUpdateStatus);
    connect(uiHandler_, &UI_Handler::coSetSettingsFromUsbStatus, lcd_, &LCD_t::viUpdateSettingsFromUsbStatus);
}

void MainWindow::connectModesAndCountdowns(VirtualRadio* radio)
{
    MyLocationManager_t* location = MyLocationManager_t::instance();
    connect(location, &MyLocationManager_t::moUpdatedLocationAvailable, radio, &VirtualRadio::updateCallerIdLocation);
    connect(location, &MyLocationManager_t::moUpdatedLocationAvailable, lcd_, &LCD_t::viMyLocation);
    connect(radio, &VirtualRadio::moVirtualRadioModeChanged, lcd_, &LCD_t::viVirtualRadioModeChanged);
    connect(lcd_, &LCD_t::coPlaceIndividualCall, radio, &VirtualRadio::miStartIndividualCall);
    connect(uiHandler_, &UI_Handler::coEndIndividualCall, radio, &VirtualRadio::miEndIndividualCall);
    connect(oneSecondTimer_, &QTimer::timeout, radio, &VirtualRadio::miOneSecondElapsed);
    connect(radio, &VirtualRadio::moIndividualCallSecondsRemainingChanged, lcd_,
            &LCD_t::viIndividualCallSecondsRemainingChanged);
    connect(radio, &VirtualRadio::moIndividualCallContactID, lcd_, &LCD_t::viIndividualCallContactID);
    connect(uiHandler_, &UI_Handler::coPaModeStart, radio, &VirtualRadio::miPaModeStart);
    connect(uiHandler_, &UI_Handler::coPaModeEnd, radio, &VirtualRadio::miPaModeEnd);
    connect(radio, &VirtualRadio::moPaModeSecondsRemainingChanged, lcd_, &LCD_t::viPaModeSecondsRemainingChanged);
}

void MainWindow::connectTickerWatchdogNotice(HardwareAudioChannel* audio)
{
    connect(audio, &HardwareAudioChannel::coDisplayTickerTimeoutNotification, lcd_, &LCD_t::viDisplayRestartingScreen);
}

void MainWindow::saveScreenshotWhenAsked()
{
    // RVX4400_SCREENSHOT names a PNG file: once the home screen has been
    // painted, the window saves a picture of itself there (for the README
    // and for tests that look at the running program).
    const QString path = qEnvironmentVariable("RVX4400_SCREENSHOT");
    if (path.isEmpty())
        return;
    QTimer::singleShot(kScreenshotDelayMs, this, [this, path] {
        const bool saved = grab().save(path, "PNG");
        debug_log_printf_always("Screenshot %s %s\n", saved ? "saved to" : "could not be saved to",
                                path.toLocal8Bit().constData());
    });
}
