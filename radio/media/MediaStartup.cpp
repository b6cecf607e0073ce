// Media start-up steps (see MediaStartup.h).
#include "MediaStartup.h"

#include "HalvaneChannel.h"
#include "HardwareAudioChannel.h"
#include "PersistentQSettings.h"
#include "RtpTrunkTransport.h"
#include "SenderKeys.h"
#include "VirtualRadio.h"

#include <mutex>

namespace {

const char* const kSenderEpochKey = "voice_sender_epoch";

// The start stamp of the program's sender keys is kept in the local
// settings, so that a restart never numbers its keys like an earlier start.
void startSenderEpochs()
{
    PersistentQSettings* settings = PersistentQSettings::instance();
    SenderEpochs::StampStore store;
    store.load = [settings]() -> std::optional<std::uint64_t> {
        bool ok = false;
        const qulonglong stamp = settings->value(QString::fromLatin1(kSenderEpochKey)).toULongLong(&ok);
        return ok ? std::optional<std::uint64_t>(stamp) : std::nullopt;
    };
    store.save = [settings](std::uint64_t stamp) {
        settings->setValue(QString::fromLatin1(kSenderEpochKey), QString::number(stamp));
        settings->sync();
    };
    SenderEpochs::instance().start(store);
}

} // namespace

std::unique_ptr<RadioStream> createHalvaneChannel(RadioStreamKind kind, int pin)
{
    static std::once_flag epochsStarted;
    std::call_once(epochsStarted, startSenderEpochs);
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
