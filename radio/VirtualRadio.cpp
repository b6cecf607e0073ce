// The radio model: construction and start-up initialisation, channel and zone
// selection with persistence, modes and countdowns, the transmit decision and
// its tones, incoming streams, volumes and the outgoing caller location.
#include "VirtualRadio.h"

#include "DelayedPersistentQSettings.h"
#include "LocationText.h"
#include "PttManager.h"
#include "SystemCommand.h"
#include "debug_log.h"

#include <QMetaObject>

#include <algorithm>
#include <cstdio>

namespace {

const int kChannelLocalPort = 50000;
const int kIndividualCallRxPort = 50002;
const int kIndividualCallRxRtcpPort = 50003;
const int kIndividualCallTxLocalPort = 50004;
const int kIdleCallSeconds = 20;
const int kActiveCallSeconds = 320;
const int kPaLoopBranch = 3;
const float kToneAmplitude = 0.3f;
const int kVolumeStep = 5;

std::string& accountNameText()
{
    static std::string name = "N/A";
    return name;
}

QString settingsKey(const std::string& text)
{
    return QString::fromLatin1(text.c_str());
}

} // namespace

std::string accountName()
{
    return accountNameText();
}

// ---- Construction and start-up ---------------------------------------------

VirtualRadio::VirtualRadio(const VirtualRadioServices& services) : services_(services)
{
    applyCodecOptions(SettingsFileParser::getInstance(), *services_.settings);
    individualCallPrivacy_ = readIndividualCallPrivacy(SettingsFileParser::getInstance());
    createStreams();
    txTimer_.setSingleShot(true);
    connect(&txTimer_, &QTimer::timeout, this, &VirtualRadio::miUpdateTxState);
}

VirtualRadio::~VirtualRadio() = default;

void VirtualRadio::createStreams()
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Creating channelMediaStream\n");
    channelStream_ = services_.createStream(RadioStreamKind::Channel, 0);
    connect(channelStream_.get(), &RadioStream::coIncomingMediaStreamActive, this,
            &VirtualRadio::miIncomingChannelMediaStreamActive);
    connect(channelStream_.get(), &RadioStream::coIncomingMediaStreamInactive, this,
            &VirtualRadio::miIncomingChannelMediaStreamInactive);
    connect(channelStream_.get(), &RadioStream::coIncomingEncryptedStreamActive, this,
            &VirtualRadio::miIncomingEncryptedMediaStreamActive);

    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Creating individualCallRxMediaStream_\n");
    individualCallRxStream_ = services_.createStream(RadioStreamKind::IndividualCallRx, 1);
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Creating individualCallTxMediaStream_\n");
    individualCallTxStream_ = services_.createStream(RadioStreamKind::IndividualCallTx, 2);
    connect(individualCallRxStream_.get(), &RadioStream::coIncomingMediaStreamActive, this,
            &VirtualRadio::miIncomingIndividualCallMediaStreamActive);
    connect(individualCallRxStream_.get(), &RadioStream::coIncomingMediaStreamInactive, this,
            &VirtualRadio::miIncomingIndividualCallMediaStreamInactive);
    connect(individualCallRxStream_.get(), &RadioStream::coIncomingEncryptedStreamActive, this,
            &VirtualRadio::miIncomingEncryptedMediaStreamActive);
    // Keys first: no packet goes to or is taken from a group in clear
    // before the stream knows its privacy.
    individualCallRxStream_->setVoicePrivacy(individualCallPrivacy_);
    individualCallTxStream_->setVoicePrivacy(individualCallPrivacy_);

    const std::string ownAddress = individualCallAddress(services_.ownDeviceId());
    individualCallRxStream_->setChannelAddress(kIndividualCallRxPort, ownAddress, kIndividualCallRxPort,
                                               kIndividualCallRxRtcpPort);
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Ready to receive individual calls on address %s, port %d\n",
                     ownAddress.c_str(), kIndividualCallRxPort);
}

void VirtualRadio::initialise()
{
    const SettingsFileParser* document = SettingsFileParser::getInstance();
    ChannelPlanBuilder(plan_, services_.demoDownload).build(document);
    const SettingsElement root = document ? document->getDom() : SettingsElement();
    services_.contacts->importContacts(root, services_.keyIdToDeviceId);

    applyIdentity();

    if (debug_log_is_enabled("ENABLE_VIRTUALRADIO_DEBUG")) {
        std::string names;
        for (const Zone_t& zone : plan_.zones.records())
            names += zone.name + " ";
        debug_log_printf_always("Number Of Zones %d\n", plan_.zones.count());
        debug_log_printf_always("Zone List: %s\n", names.c_str());
    }

    restoreZone();
    rebuildZoneChannelList();
    restoreChannel();
    restoreVolumes();
}

void VirtualRadio::applyIdentity()
{
    const SettingsFileParser* document = SettingsFileParser::getInstance();
    const SettingsElement root = document ? document->getDom() : SettingsElement();
    std::string talker = getAttribute(root, "name");
    if (talker.empty()) {
        debug_log_printf_always("Using default caller ID name.\n");
        talker = "Default";
    }
    channelStream_->setTalker(talker);
    individualCallTxStream_->setTalker(talker);

    const std::string account = getAttribute(root, "accountName");
    if (account.empty())
        debug_log_printf_always("Using default account name: %s. \n", "N/A");
    else
        accountNameText() = account;

    const device_id_t ownId = services_.ownDeviceId();
    channelStream_->setSsrc(ownId);
    individualCallTxStream_->setSsrc(ownId);
}

void VirtualRadio::restoreZone()
{
    plan_.zones.setIndex(services_.settings->value(QStringLiteral("zone_index"), 0).toInt());
    currentZoneName_ = plan_.zones.empty() ? std::string("No Zones (b)") : zoneNameAt(plan_.zones, plan_.zones.index());
    debug_log_printf("DEBUG_INITIAL_CHANNEL", "initialChannel zone index %d, zone name %s\n", plan_.zones.index(),
                     currentZoneName_.c_str());
    emitCurrentZoneName(currentZoneName_);
}

void VirtualRadio::restoreChannel()
{
    const int stored = services_.settings->value(settingsKey(currentZoneName_)).toInt();
    debug_log_printf("DEBUG_INITIAL_CHANNEL", "initialChannel stored channel index %d\n", stored);
    zoneChannels_.setIndex(stored);
    debug_log_printf("DEBUG_INITIAL_CHANNEL", "initialChannel selecting channel index %d\n", zoneChannels_.index());
    selectChannel(zoneChannels_.index());
}

void VirtualRadio::restoreVolumes()
{
    miSetVolume(services_.settings->value(QStringLiteral("volume"), 20).toInt());
    paVolume_ = services_.settings->value(QStringLiteral("pa_mode_volume"), 80).toInt();
}

// ---- Channel and zone selection --------------------------------------------

void VirtualRadio::miSelectChannelNext()
{
    selectChannel(zoneChannels_.nextIndex());
}

void VirtualRadio::miSelectChannelPrevious()
{
    selectChannel(zoneChannels_.previousIndex());
}

void VirtualRadio::miSetRadioChannel(int index)
{
    selectChannel(index);
}

void VirtualRadio::selectChannel(int index)
{
    debug_log_printf("ENABLE_VIRTUALRADIO_DEBUG", "Change to channel index %d was requested.\n", index);
    zoneChannels_.setIndex(index);
    debug_log_printf("ENABLE_VIRTUALRADIO_DEBUG", "Setting to channel index: %d\n", zoneChannels_.index());
    if (const Zone_t* zone = plan_.zones.current())
        services_.settings->setValue(settingsKey(zone->name), zoneChannels_.index());

    const Channel_t channel = zoneChannels_.currentOrEmpty();
    channelStream_->setVoicePrivacy(channel.privacy);
    channelStream_->setChannelAddress(kChannelLocalPort, channel.address, channel.remoteRtpPort,
                                      channel.remoteRtcpPort);
    debug_log_printf("ENABLE_VIRTUALRADIO_DEBUG", "Current Channel: %s, (channel number, not index): %d\n",
                     channel.name.c_str(), channel.number);
    emit moChannelIndexChanged(zoneChannels_.index());
    emitCurrentChannelName();
}

void VirtualRadio::miSelectZoneNext()
{
    selectZone(plan_.zones.nextIndex());
}

void VirtualRadio::miSelectZonePrevious()
{
    selectZone(plan_.zones.previousIndex());
}

void VirtualRadio::selectZone(int index)
{
    plan_.zones.setIndex(index);
    services_.settings->setValue(QStringLiteral("zone_index"), plan_.zones.index());
    const Zone_t* zone = plan_.zones.current();
    if (!zone) {
        emitCurrentZoneName("No Zones (a)");
        return;
    }
    currentZoneName_ = zone->name;
    emitCurrentZoneName(currentZoneName_);
    const int channelIndex = services_.settings->value(settingsKey(zone->name), zoneChannels_.index()).toInt();
    emit moChannelIndexChanged(channelIndex);
    rebuildZoneChannelList();
    selectChannel(channelIndex);
    emitCurrentChannelName();
}

void VirtualRadio::rebuildZoneChannelList()
{
    const QStringList names = rebuildZoneChannels(plan_, zoneChannels_);
    emit moNewChannelList(names);
    emitCurrentChannelName();
}

void VirtualRadio::emitCurrentChannelName()
{
    currentChannelName_ = zoneChannels_.currentOrEmpty().name;
    emit moCurrentChannelName(currentChannelName_.c_str());
    emitCurrentChannelPrivacy();
}

void VirtualRadio::emitCurrentChannelPrivacy()
{
    const ChannelPrivacy& privacy = zoneChannels_.currentOrEmpty().privacy;
    const bool unusable = privacy.mode == ChannelPrivacy::Mode::Unusable;
    // The reason is in the log; the display has room for the outcome.
    emit moCurrentChannelPrivacy(privacy.mode == ChannelPrivacy::Mode::Encrypted,
                                 unusable ? QStringLiteral("Key unusable: transmit disabled") : QString());
}

void VirtualRadio::emitCurrentZoneName(const std::string& name)
{
    // The signal carries a pointer: it stays valid until the next zone change.
    shownZoneName_ = name;
    emit moCurrentZoneName(shownZoneName_.c_str());
}

// ---- Modes -----------------------------------------------------------------

void VirtualRadio::setMode(VirtualRadioMode_t mode)
{
    if (mode == mode_)
        return;
    mode_ = mode;
    emit moVirtualRadioModeChanged(mode);
    if (mode != ChannelMode)
        channelStream_->leaveGroup(channelStream_->remoteAddress());
    if (mode != IndividualCallMode)
        individualCallTxStream_->leaveGroup(individualCallTxStream_->remoteAddress());
    if (mode == ChannelMode) {
        debug_log_printf_always("Joining channel mode address %s\n", channelStream_->remoteAddress().c_str());
        channelStream_->viUpdateMulticastJoins();
    }
    if (mode == IndividualCallMode)
        addressIndividualCall();
    runPaCheck();
    emit moSetVolume(currentModeVolume());
}

void VirtualRadio::addressIndividualCall()
{
    emit moIndividualCallContactID(individualCallContact_);
    const std::string address = individualCallAddress(individualCallContact_);
    individualCallTxStream_->setChannelAddress(kIndividualCallTxLocalPort, address, kIndividualCallRxPort,
                                               kIndividualCallRxRtcpPort);
    debug_log_printf_always("Joining individual call address %s\n", address.c_str());
    setIndividualCallSeconds(kIdleCallSeconds);
    emit moIndividualCallSecondsRemainingChanged(individualCallSeconds_);
}

void VirtualRadio::miStartIndividualCall(device_id_t contact)
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Starting individual call with contact %08X\n", contact);
    const bool readdress = mode_ == IndividualCallMode && contact != individualCallContact_;
    individualCallContact_ = contact;
    if (readdress)
        addressIndividualCall();
    else
        setMode(IndividualCallMode);
}

void VirtualRadio::miEndIndividualCall()
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS",
                     "Ending individual call.  Leaving address %s and switching to channel mode.\n",
                     individualCallTxStream_->remoteAddress().c_str());
    setMode(ChannelMode);
}

void VirtualRadio::miPaModeStart()
{
    debug_log_printf("DEBUG_PA_MODE", "Starting PA mode\n");
    setMode(PaMode);
    paSeconds_ = kIdleCallSeconds;
    emit moPaModeSecondsRemainingChanged(paSeconds_);
}

void VirtualRadio::miPaModeEnd()
{
    debug_log_printf("DEBUG_PA_MODE", "Ending PA mode and switching to channel mode.\n");
    setMode(ChannelMode);
}

void VirtualRadio::miOneSecondElapsed()
{
    if (individualCallSeconds_ > 0) {
        --individualCallSeconds_;
        emit moIndividualCallSecondsRemainingChanged(individualCallSeconds_);
        if (individualCallSeconds_ == 0 && mode_ == IndividualCallMode) {
            debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Individual call timed out\n");
            miEndIndividualCall();
        }
    }
    if (paSeconds_ > 0) {
        --paSeconds_;
        emit moPaModeSecondsRemainingChanged(paSeconds_);
        if (paSeconds_ == 0 && mode_ == PaMode)
            miPaModeEnd();
    }
}

void VirtualRadio::setIndividualCallSeconds(int seconds)
{
    individualCallSeconds_ = seconds;
}

// ---- Incoming streams ------------------------------------------------------

void VirtualRadio::miIncomingAnyMediaStreamActive(device_id_t)
{
    emit moRxActivityUpdate(true);
}

void VirtualRadio::miIncomingChannelMediaStreamActive(device_id_t caller)
{
    lastChannelCaller_ = caller;
    emit moIncomingChannelCallCallerIDUpdate(caller);
    emit moRxActivityUpdate(true);
}

void VirtualRadio::miIncomingIndividualCallMediaStreamActive(device_id_t caller)
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Incoming individual call active (from %08X)\n", caller);
    emit moRxActivityUpdate(true);
    if (mode_ == IndividualCallMode && caller != individualCallContact_)
        debug_log_printf("DEBUG_INDIVIDUAL_CALLS",
                         "Instead of ignoring incoming individual call from %08X because already in an individual "
                         "call with someone else, just switching to talk to them.\n",
                         caller);
    if (mode_ != IndividualCallMode || caller != individualCallContact_)
        miStartIndividualCall(caller);
    setIndividualCallSeconds(kActiveCallSeconds);
}

void VirtualRadio::miIncomingEncryptedMediaStreamActive(device_id_t caller)
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Encrypted voice from %08X without its key\n", caller);
    emit moIncomingCallEncrypted(caller);
    emit moRxActivityUpdate(true);
}

void VirtualRadio::miIncomingAnyMediaStreamInactive()
{
    emit moRxActivityUpdate(false);
}

void VirtualRadio::miIncomingChannelMediaStreamInactive()
{
    emit moRxActivityUpdate(false);
}

void VirtualRadio::miIncomingIndividualCallMediaStreamInactive()
{
    debug_log_printf("DEBUG_INDIVIDUAL_CALLS", "Incoming individual call inactive\n");
    emit moRxActivityUpdate(false);
}

void VirtualRadio::incomingIndividualCall(device_id_t caller)
{
    // Called on the thread that receives RTP: the mode change runs on the
    // radio's own thread, where every other change of its state happens.
    QMetaObject::invokeMethod(
        this,
        [this, caller] {
            if (mode_ == IndividualCallMode)
                return;
            miStartIndividualCall(caller);
            individualCallTxStream_->viUpdateMulticastJoins();
        },
        Qt::AutoConnection);
}

// ---- Transmit state machine ------------------------------------------------

void VirtualRadio::miUpdateTxState()
{
    bool changed = true;
    while (changed) {
        const int ptt = services_.ptt->state();
        changed = tx_.step(ptt);
        debug_log_printf("DEBUG_MIC_PTT", "Mic PTT state is %d, TX state is %d\n", ptt, tx_.state());
        afterTxStep();
    }
}

void VirtualRadio::afterTxStep()
{
    updateTransmitting();
    runPaCheck();
    emit moTxActiveUpdate(tx_.transmitting());
}

void VirtualRadio::updateTransmitting()
{
    const bool transmitting = tx_.transmitting();
    if (transmitting_ && *transmitting_ == transmitting)
        return;
    transmitting_ = transmitting;
    if (transmitting && transmissionDisabled()) {
        debug_log_printf_always("Not transmitting on %s: its voice key cannot be used.\n",
                                mode_ == ChannelMode ? currentChannelName_.c_str() : "the individual call");
        return;
    }
    if (transmitting) {
        (mode_ != ChannelMode ? individualCallTxStream_ : channelStream_)->startTransmit();
        setIndividualCallSeconds(kActiveCallSeconds);
    } else {
        channelStream_->stopTransmit();
        individualCallTxStream_->stopTransmit();
        setIndividualCallSeconds(kIdleCallSeconds);
    }
}

// A channel (or individual calls) whose key cannot be used never sends:
// clear voice there would be heard by anyone.
bool VirtualRadio::transmissionDisabled() const
{
    const ChannelPrivacy& privacy =
        mode_ == IndividualCallMode ? individualCallPrivacy_ : zoneChannels_.currentOrEmpty().privacy;
    return mode_ != PaMode && privacy.mode == ChannelPrivacy::Mode::Unusable;
}

void VirtualRadio::runPaCheck()
{
    const bool paTransmitting = mode_ == PaMode && tx_.transmitting();
    if (audioChannel_)
        audioChannel_->setBranchMuted(kPaLoopBranch, !paTransmitting);
    if (paTransmitting)
        paSeconds_ = kActiveCallSeconds;
    else if (paSeconds_ > kIdleCallSeconds)
        paSeconds_ = kIdleCallSeconds;
    emit moPaModeSecondsRemainingChanged(paSeconds_);
}

void VirtualRadio::playEndTone()
{
    channelStream_->playTone(300, 80, kToneAmplitude);
}

void VirtualRadio::playKeyUpTone()
{
    channelStream_->playTone(800, 150, kToneAmplitude);
}

void VirtualRadio::playBusyTone(int durationMs)
{
    debug_log_printf("DEBUG_RX_PRIORITY", "Starting busy tone\n");
    channelStream_->playTone(620, durationMs, kToneAmplitude);
    individualCallTxStream_->playTone(480, durationMs, kToneAmplitude);
}

void VirtualRadio::stopTones(const char* reason)
{
    debug_log_printf("DEBUG_RX_PRIORITY", "%s\n", reason);
    channelStream_->stopTone();
    individualCallTxStream_->stopTone();
}

void VirtualRadio::startTxTimer(int ms)
{
    txTimer_.start(ms);
}

bool VirtualRadio::txTimerRunning() const
{
    return txTimer_.isActive();
}

// ---- Volume, system level, caller location ---------------------------------

int VirtualRadio::currentModeVolume() const
{
    return mode_ == PaMode ? paVolume_ : volume_;
}

void VirtualRadio::miSetVolume(int volume)
{
    volume = std::max(0, std::min(100, volume));
    if (mode_ == PaMode) {
        paVolume_ = volume;
        services_.settings->setValue(QStringLiteral("pa_mode_volume"), volume);
    } else {
        volume_ = volume;
        services_.settings->setValue(QStringLiteral("volume"), volume);
    }
    emit moSetVolume(currentModeVolume());
}

void VirtualRadio::miIncreaseVolume()
{
    miSetVolume(currentModeVolume() + kVolumeStep);
}

void VirtualRadio::miDecreaseVolume()
{
    miSetVolume(currentModeVolume() - kVolumeStep);
}

void VirtualRadio::viSendSystemVolCmd(int percent)
{
    if (lastSystemVolumePercent_ && *lastSystemVolumePercent_ == percent)
        return;
    lastSystemVolumePercent_ = percent;
    const std::string command =
        std::string("amixer sset 'TX") + "1" + " Audio' " + std::to_string(percent / 2 + 50) + "% > /dev/null";
    SystemCommand::run(command);
}

void VirtualRadio::updateCallerIdLocation()
{
    location_t location;
    std::string text;
    if (services_.ownLocation && services_.ownLocation(location))
        text = formatLocationText(location.latitude, location.longitude);
    debug_log_printf("DEBUG_CALLER_ID_LOCATION", "Setting location for outgoing callerID: %s\n", text.c_str());
    channelStream_->setLocationText(text);
    individualCallTxStream_->setLocationText(text);
}
