// The model of the radio unit: owns its three streams, the selected zone and
// channel, the three modes with their countdowns, the transmit decision with
// its tones, and the two volumes; reports everything through signals.
#pragma once

#include "ChannelPlan.h"
#include "ContactsManager.h"
#include "RadioStream.h"
#include "TxStateMachine.h"
#include "device_id.h"
#include "location.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class DelayedPersistentQSettings;
class PttManager_t;

// Everything the radio model takes from the rest of the program; the
// program's set is in RadioServices.cpp, tests build their own.
struct VirtualRadioServices
{
    DelayedPersistentQSettings* settings = nullptr;
    PttManager_t* ptt = nullptr;
    ContactsManager* contacts = nullptr;
    RadioStreamFactory createStream;
    std::function<device_id_t()> ownDeviceId;
    ContactsManager::KeyIdConverter keyIdToDeviceId;
    ChannelPlanBuilder::DemoDownload demoDownload;
    // Fills in the own position; false when there is none.
    std::function<bool(location_t&)> ownLocation;
};

// The process-wide account name shown by the display; "N/A" by default.
std::string accountName();

// The streams the program's radio is built with: stand-ins until start-up
// installs the media streams, before the radio is first fetched.
void setProgramStreamFactory(RadioStreamFactory factory);

class VirtualRadio : public QObject, private TxActions
{
    Q_OBJECT
public:
    enum VirtualRadioMode_t { ChannelMode = 0, IndividualCallMode = 1, PaMode = 2 };
    Q_ENUM(VirtualRadioMode_t)

    // The process-wide radio, built with the program's services.
    static VirtualRadio* instance();

    // Separate radios are made only by tests.
    explicit VirtualRadio(const VirtualRadioServices& services);
    ~VirtualRadio() override;

    // Builds the plan, imports contacts, restores zone, channel and volumes.
    void initialise();
    // An RTP packet for this unit's individual address arrived (any thread).
    void incomingIndividualCall(device_id_t caller);
    void setAudioChannel(RadioAudioOutput* audioChannel) { audioChannel_ = audioChannel; }

    RadioStream* channelStream() const { return channelStream_.get(); }
    RadioStream* individualCallRxStream() const { return individualCallRxStream_.get(); }
    RadioStream* individualCallTxStream() const { return individualCallTxStream_.get(); }

    const ChannelPlan& plan() const { return plan_; }
    const ChannelList& zoneChannels() const { return zoneChannels_; }
    VirtualRadioMode_t mode() const { return mode_; }
    int txState() const { return tx_.state(); }
    int volume() const { return volume_; }
    int paVolume() const { return paVolume_; }
    int individualCallSeconds() const { return individualCallSeconds_; }
    int paSeconds() const { return paSeconds_; }
    device_id_t individualCallContact() const { return individualCallContact_; }
    device_id_t lastChannelCaller() const { return lastChannelCaller_; }

signals:
    void moTxActiveUpdate(bool active);
    void moRxActivityUpdate(bool active);
    void moVirtualRadioModeChanged(VirtualRadio::VirtualRadioMode_t mode);
    void moNewChannelList(QStringList names);
    void moChannelIndexChanged(int index);
    void moCurrentChannelName(const char* name);
    void moCurrentZoneName(const char* name);
    void moIndividualCallSecondsRemainingChanged(int seconds);
    void moIndividualCallContactID(device_id_t contact);
    void moIncomingChannelCallCallerIDUpdate(device_id_t caller);
    // Someone talks encrypted under a key this radio does not have: the
    // display shows "Encrypted" as the caller; nothing is played.
    void moIncomingCallEncrypted(device_id_t caller);
    // The selected channel's privacy: encrypted shows a lock; problem, when
    // not empty, says why the channel cannot transmit.
    void moCurrentChannelPrivacy(bool encrypted, QString problem);
    void moSetVolume(int volume);
    void moPaModeSecondsRemainingChanged(int seconds);

public slots:
    void miUpdateTxState();
    void miIncomingAnyMediaStreamActive(device_id_t caller);
    void miIncomingChannelMediaStreamActive(device_id_t caller);
    void miIncomingIndividualCallMediaStreamActive(device_id_t caller);
    void miIncomingEncryptedMediaStreamActive(device_id_t caller);
    void miIncomingAnyMediaStreamInactive();
    void miIncomingChannelMediaStreamInactive();
    void miIncomingIndividualCallMediaStreamInactive();
    void miSelectChannelNext();
    void miSelectChannelPrevious();
    void miSetRadioChannel(int index);
    void miSelectZoneNext();
    void miSelectZonePrevious();
    void miStartIndividualCall(device_id_t contact);
    void miEndIndividualCall();
    void miOneSecondElapsed();
    void updateCallerIdLocation();
    void miIncreaseVolume();
    void miDecreaseVolume();
    void miSetVolume(int volume);
    void viSendSystemVolCmd(int percent);
    void miPaModeStart();
    void miPaModeEnd();

private:
    // TxActions
    void playEndTone() override;
    void playKeyUpTone() override;
    void playBusyTone(int durationMs) override;
    void stopTones(const char* reason) override;
    void startTxTimer(int ms) override;
    bool txTimerRunning() const override;

    void createStreams();
    void applyIdentity();
    void restoreZone();
    void restoreChannel();
    void restoreVolumes();

    void selectChannel(int index);
    void selectZone(int index);
    void rebuildZoneChannelList();
    void emitCurrentChannelName();
    void emitCurrentChannelPrivacy();
    bool transmissionDisabled() const;
    void emitCurrentZoneName(const std::string& name);

    void setMode(VirtualRadioMode_t mode);
    void addressIndividualCall();
    void afterTxStep();
    void updateTransmitting();
    void runPaCheck();
    void setIndividualCallSeconds(int seconds);
    int currentModeVolume() const;

    VirtualRadioServices services_;
    RadioAudioOutput* audioChannel_ = nullptr;
    TxStateMachine tx_{*this};
    QTimer txTimer_;
    VirtualRadioMode_t mode_ = ChannelMode;
    device_id_t lastChannelCaller_ = 0;
    ChannelPlan plan_;
    ChannelList zoneChannels_;
    std::unique_ptr<RadioStream> channelStream_;
    std::string currentZoneName_;
    std::string currentChannelName_;
    std::string shownZoneName_;
    device_id_t individualCallContact_ = 0;
    ChannelPrivacy individualCallPrivacy_;
    int individualCallSeconds_ = 0;
    std::unique_ptr<RadioStream> individualCallRxStream_;
    std::unique_ptr<RadioStream> individualCallTxStream_;
    int volume_ = 0;
    int paSeconds_ = 0;
    int paVolume_ = 0;
    std::optional<bool> transmitting_;
    std::optional<int> lastSystemVolumePercent_;
};
