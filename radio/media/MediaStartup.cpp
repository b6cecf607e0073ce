// Media start-up steps (see MediaStartup.h).
#include "MediaStartup.h"

#include "HalvaneChannel.h"
#include "HardwareAudioChannel.h"
#include "RtpTrunkTransport.h"
#include "VirtualRadio.h"

std::unique_ptr<RadioStream> createHalvaneChannel(RadioStreamKind kind, int pin)
{
    return std::make_unique<HalvaneChannel>(static_cast<int>(kind), pin);
}

HardwareAudioChannel* createAudioChannel(VirtualRadio* radio)
{
    auto* audio = new HardwareAudioChannel();
    radio->setAudioChannel(audio);
    return audio;
}

namespace {

// The radio's streams are media streams when the program built them so.
void attachIfMedia(HardwareAudioChannel* audio, RadioStream* stream)
{
    if (auto* media = dynamic_cast<MediaStream_t*>(stream))
        audio->attachMediaStream(media);
}

} // namespace

void attachRadioToAudioChannel(VirtualRadio* radio, HardwareAudioChannel* audio, QObject* restarter)
{
    attachIfMedia(audio, radio->channelStream());
    attachIfMedia(audio, radio->individualCallRxStream());
    attachIfMedia(audio, radio->individualCallTxStream());
    audio->connectPaLoop(3);

    QObject::connect(radio, &VirtualRadio::moSetVolume, audio, &HardwareAudioChannel::viSetPlaybackVolumeSoftwareGain);
    audio->viSetPlaybackVolumeSoftwareGain(radio->volume());
    QObject::connect(audio, SIGNAL(coRestartTalkboxTickerTimeout()), restarter, SLOT(miForceRestart()));
    setIncomingIndividualCallEntry([radio](device_id_t caller) { radio->incomingIndividualCall(caller); });
}
