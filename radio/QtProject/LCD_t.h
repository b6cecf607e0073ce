// The emulated display of the radio unit: shows one of nineteen screens
// under a status bar, fed only through its slots, and reports the screen it
// shows, the channel the user picks and the contact picked for a call.
#pragma once

#include "LcdForm.h"
#include "NetworkState.h"
#include "ScreenName.h"
#include "device_id.h"

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

class ContactsManager;
class QListWidgetItem;

class LCD_t : public QWidget
{
    Q_OBJECT
public:
    using screenName_t = LcdScreens::screenName_t;

    // The display reads contacts from the given store (the program's by default).
    explicit LCD_t(QWidget* parent = nullptr, ContactsManager* contacts = nullptr);

    int currentScreen() const;
    const LcdForm& form() const { return ui_; }

signals:
    void viSetVolumeLcd(int volume);
    void coSetChannelFromLcd(int index);
    void voCurrentScreenFeedback(LcdScreens::screenName_t screen);
    void coPlaceIndividualCall(device_id_t contact);

public slots:
    void viSelectScreen(LcdScreens::screenName_t screen);
    void viVirtualRadioModeChanged(int mode);
    void viDisplayRestartingScreen(QString message);
    void viDisplayRegistrationCode(QString code);
    void viUpdateRegistrationStatus(bool ok);
    void viSetComboBoxChannelList(QStringList channels);
    void viSetChannelIndex(int index);
    void viCurrentZoneName(const char* name);
    void viUpdateStatusBarVolume();
    void viShowVolumeLevel();
    void viShowCallerID();
    void viChannelCallContactID(device_id_t contact);
    void viChannelCallEncrypted(device_id_t caller);
    void viCurrentChannelPrivacy(bool encrypted, QString problem);
    void viIndividualCallContactID(device_id_t contact);
    void viUpdateContactList();
    void viUpdateContactInfo(device_id_t contact);
    void viContactCursorBump(int delta);
    void viContactCursorUp() { viContactCursorBump(+1); }
    void viContactCursorDown() { viContactCursorBump(-1); }
    void viSelectContact(QListWidgetItem* item);
    void miPlaceIndividualCallToContactUnderCursor();
    void viMyLocation();
    void viUpdateContactUpdateDistanceFromMe();
    void viUpdateTxActivity(bool active);
    void viUpdateRxActivity(bool active);
    void viUpdateRemoteDebugAccessStatus(bool enabled);
    void viSetRemoteDebugVisible(bool visible);
    void viUpdateNetworkReadyStatus(bool ready);
    void viUpdateSelectedNetworkInterface(QString name);
    // The selection's state: its interface, readiness and address, or
    // nothing while the platform reports no interface.
    void viUpdateNetworkState(NetworkState state);
    void viUpdateSoftwareUpdateStatus(QString status);
    void viUpdateSettingsFromUsbStatus(QString status);
    void viEmergencyStatusStart();
    void viEmergencyStatusUpdate();
    void viPaModeSecondsRemainingChanged(int seconds);
    void viIndividualCallSecondsRemainingChanged(int seconds);
    void updateSettingsScreenHalvaneInfo();

private:
    void connectInternals();
    void hideUnusedWidgets();
    void setChannelListQuietly(const std::function<void()>& change);
    void showContact(device_id_t contact, QLabel* name, QLabel* idLine);
    void clearCallerId();
    void updateSoftwareVersionText();
    device_id_t currentPartner() const;

    LcdForm ui_;
    ContactsManager* contacts_;
    QTimer volumeTimer_;
    QString registrationCode_;
    int volume_ = 0;
    int mode_ = 0;
    int emergencyBlinkCount_ = 0;
    device_id_t channelCaller_ = 0;
    bool callerIdShown_ = false;
    device_id_t individualCallPartner_ = 0;
};
