// Construction, stream attachment, PA loop, gain and watchdog of the audio graph.
#include "HardwareAudioChannel.h"

#include "MediaCheck.h"
#include "MediaLibrary.h"
#include "MediaStream.h"
#include "PersistentQSettings.h"
#include "ReceiveActivity.h"
#include "debug_log.h"
#include "debug_log_stream.h"

#include <QCoreApplication>
#include <QThread>

#include <cmath>
#include <mediastreamer2/flowcontrol.h>
#include <mediastreamer2/msaudiomixer.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/mstee.h>
#include <mediastreamer2/msvolume.h>

namespace {

// The capture splitter's last output (it has ten); streams and the PA loop
// use the pins from 0 up.
constexpr int kCaptureDrainPin = 9;

constexpr const char* kSource = "HardwareAudioChannel";

MSFilter* createFilter(MSFilterId id, const char* condition)
{
    MSFilter* filter = ms_factory_create_filter(mediaFactory(), id);
    mediaCheck(filter != nullptr, condition, kSource);
    return filter;
}

std::string settingOrKeyName(const char* key)
{
    const QVariant value = PersistentQSettings::instance()->value(key);
    return value.isValid() ? value.toString().toStdString() : std::string(key);
}

void setRate(MSFilter* filter, unsigned method, int rate)
{
    ms_filter_call_method(filter, method, &rate);
}

} // namespace

MSTicker* HardwareAudioChannel::msTicker_ = nullptr;

HardwareAudioChannel::HardwareAudioChannel() : HardwareAudioChannel(Options{}) {}

HardwareAudioChannel::HardwareAudioChannel(const Options& options) : restartDelayMs_(options.restartDelayMs)
{
    initMediaLibrary();
    if (msTicker_ == nullptr)
        msTicker_ = ms_ticker_new();
    mediaCheck(msTicker_ != nullptr, "msTicker_ != NULL", kSource);
    createFilters();
    chooseCards(options);
    createCardFilters();
    linkPlaybackChain();
    linkCaptureChain();
    startWatchdog(options.watchdogPeriodMs);
}

HardwareAudioChannel::~HardwareAudioChannel()
{
    // The program keeps its audio channel for the whole run; tests take
    // theirs apart after detaching their streams' graphs.
    watchdogTimer_.stop();
    detachTicker();
    for (const Link& link : branchLinks_)
        ms_filter_unlink(link.from, link.outPin, link.to, link.inPin);
    ms_filter_unlink(playbackMixer_, 0, playbackVolume_, 0);
    ms_filter_unlink(playbackVolume_, 0, playbackResampler_, 0);
    ms_filter_unlink(playbackResampler_, 0, playbackFlowControl_, 0);
    ms_filter_unlink(playbackFlowControl_, 0, sndPlaybackFilter_, 0);
    if (sndCaptureFilter_ != nullptr) {
        ms_filter_unlink(sndCaptureFilter_, 0, captureResampler_, 0);
        ms_filter_unlink(captureResampler_, 0, captureTee_, 0);
        ms_filter_unlink(captureTee_, kCaptureDrainPin, captureDrain_, 0);
        ms_filter_destroy(sndCaptureFilter_);
        ms_filter_destroy(captureDrain_);
    }
    for (MSFilter* f : {playbackMixer_, playbackVolume_, playbackResampler_, playbackFlowControl_, sndPlaybackFilter_,
                        captureResampler_, captureTee_})
        ms_filter_destroy(f);
}

void HardwareAudioChannel::createFilters()
{
    playbackVolume_ = createFilter(MS_VOLUME_ID, "playback_volume_ != NULL");
    playbackResampler_ = createFilter(MS_RESAMPLE_ID, "playback_resampler != NULL");
    captureResampler_ = createFilter(MS_RESAMPLE_ID, "capture_resampler != NULL");
    playbackMixer_ = createFilter(MS_AUDIO_MIXER_ID, "playback_mixer_ != NULL");
    setRate(playbackMixer_, MS_FILTER_SET_SAMPLE_RATE, kStreamSampleRate);
    captureTee_ = createFilter(MS_TEE_ID, "capture_tee_ != NULL");
    playbackFlowControl_ = createFilter(MS_AUDIO_FLOW_CONTROL_ID, "playback_flow_control != NULL");
}

void HardwareAudioChannel::chooseCards(const Options& options)
{
    MSSndCardManager* manager = ms_factory_get_snd_card_manager(mediaFactory());
    const std::string playbackId =
        options.readSettings ? settingOrKeyName("playback_audio_dev_id") : options.playbackCardId;
    const std::string captureId =
        options.readSettings ? settingOrKeyName("capture_audio_dev_id") : options.captureCardId;
    playbackCard_ = ms_snd_card_manager_get_card(manager, playbackId.c_str());
    if (playbackCard_ == nullptr || !(ms_snd_card_get_capabilities(playbackCard_) & MS_SND_CARD_CAP_PLAYBACK))
        playbackCard_ = ms_snd_card_manager_get_default_playback_card(manager);
    captureCard_ = ms_snd_card_manager_get_card(manager, captureId.c_str());
    if (captureCard_ == nullptr || !(ms_snd_card_get_capabilities(captureCard_) & MS_SND_CARD_CAP_CAPTURE))
        captureCard_ = ms_snd_card_manager_get_default_capture_card(manager);
}

void HardwareAudioChannel::createCardFilters()
{
    if (playbackCard_ != nullptr) {
        debug_log_printf("DEBUG_MEDIASTREAMER_SETUP", "Found Writer...\n");
        sndPlaybackFilter_ = ms_snd_card_create_writer(playbackCard_);
    }
    if (sndPlaybackFilter_ != nullptr) {
        // The writer asks for samples to be dropped when its buffer holds
        // more than it should (audio mixed before the sound server took any):
        // without this the excess would stay as added delay for the run.
        ms_filter_add_notify_callback(sndPlaybackFilter_, &HardwareAudioChannel::onWriterEvent, playbackFlowControl_,
                                      TRUE);
    } else {
        // Without a playback card the radio runs on silently: a void sink
        // takes the mixed audio so the graph still runs.
        debug_log_printf_always("Error: no playback sound card found; the radio runs without audio output.\n");
        sndPlaybackFilter_ = createFilter(MS_VOID_SINK_ID, "snd_playback_filter != NULL");
    }
    if (captureCard_ != nullptr) {
        debug_log_printf("DEBUG_MEDIASTREAMER_SETUP", "Found Reader...\n");
        sndCaptureFilter_ = ms_snd_card_create_reader(captureCard_);
        mediaCheck(sndCaptureFilter_ != nullptr, "snd_capture_filter != NULL", kSource);
    } else {
        microphonePresent_ = false;
    }
    int rate = kSoundcardSampleRate;
    ms_filter_call_method(sndPlaybackFilter_, MS_FILTER_SET_SAMPLE_RATE, &rate);
    if (playbackCard_ != nullptr)
        mediaCheck(ms_filter_call_method(sndPlaybackFilter_, MS_FILTER_SET_SAMPLE_RATE, &rate) == 0,
                   "ms_filter_call_method(this->snd_playback_filter,MS_FILTER_SET_SAMPLE_RATE,&soundcard_sample_rate)"
                   "==0",
                   kSource);
    setRate(playbackResampler_, MS_FILTER_SET_SAMPLE_RATE, kStreamSampleRate);
    setRate(playbackResampler_, MS_FILTER_SET_OUTPUT_SAMPLE_RATE, kSoundcardSampleRate);
    setRate(playbackFlowControl_, MS_FILTER_SET_SAMPLE_RATE, kSoundcardSampleRate);
    if (microphonePresent_) {
        setRate(sndCaptureFilter_, MS_FILTER_SET_SAMPLE_RATE, kSoundcardSampleRate);
        setRate(captureResampler_, MS_FILTER_SET_SAMPLE_RATE, kSoundcardSampleRate);
        setRate(captureResampler_, MS_FILTER_SET_OUTPUT_SAMPLE_RATE, kStreamSampleRate);
    }
    int channels = 1;
    ms_filter_call_method(sndPlaybackFilter_, MS_FILTER_SET_NCHANNELS, &channels);
    ms_filter_call_method(playbackFlowControl_, MS_FILTER_SET_NCHANNELS, &channels);
}

void HardwareAudioChannel::linkPlaybackChain()
{
    MSConnectionHelper h;
    ms_connection_helper_start(&h);
    int ret = ms_connection_helper_link(&h, playbackMixer_, -1, 0);
    ret |= ms_connection_helper_link(&h, playbackVolume_, 0, 0);
    ret |= ms_connection_helper_link(&h, playbackResampler_, 0, 0);
    ret |= ms_connection_helper_link(&h, playbackFlowControl_, 0, 0);
    ret |= ms_connection_helper_link(&h, sndPlaybackFilter_, 0, -1);
    mediaCheck(ret == 0, "ret == 0", kSource);
}

void HardwareAudioChannel::onWriterEvent(void* flowControl, MSFilter*, unsigned int id, void* arg)
{
    if (id == MS_AUDIO_FLOW_CONTROL_DROP_EVENT)
        ms_filter_call_method(static_cast<MSFilter*>(flowControl), MS_AUDIO_FLOW_CONTROL_DROP, arg);
}

void HardwareAudioChannel::linkCaptureChain()
{
    if (!microphonePresent_)
        return;
    int ret = ms_filter_link(sndCaptureFilter_, 0, captureResampler_, 0);
    ret |= ms_filter_link(captureResampler_, 0, captureTee_, 0);
    // The splitter frees a captured block only by handing it to an output
    // that is linked and not muted. With every stream's branch muted (no
    // transmission, the usual state) it kept each block: the idle radio's
    // memory grew by megabytes an hour. The drain is always there to take it.
    captureDrain_ = createFilter(MS_VOID_SINK_ID, "capture_drain_ != NULL");
    ret |= ms_filter_link(captureTee_, kCaptureDrainPin, captureDrain_, 0);
    mediaCheck(ret == 0, "ret == 0", kSource);
}

void HardwareAudioChannel::startWatchdog(int periodMs)
{
    MSTicker* ticker = msTicker_;
    stall_ = std::make_unique<TickerStall>([ticker] { return ticker->ticks; }, monotonicMs);
    connect(&watchdogTimer_, &QTimer::timeout, this, &HardwareAudioChannel::ms_ticker_time_out_polling_slot);
    watchdogTimer_.start(periodMs);
}

void HardwareAudioChannel::detachTicker()
{
    if (!tickerAttached_)
        return;
    ms_ticker_detach(msTicker_, playbackMixer_);
    if (microphonePresent_ && sndCaptureFilter_ != nullptr)
        ms_ticker_detach(msTicker_, sndCaptureFilter_);
    tickerAttached_ = false;
}

void HardwareAudioChannel::attachTicker()
{
    if (microphonePresent_ && sndCaptureFilter_ != nullptr)
        ms_ticker_attach(msTicker_, sndCaptureFilter_);
    ms_ticker_attach(msTicker_, playbackMixer_);
    tickerAttached_ = true;
}

void HardwareAudioChannel::attachMediaStream(MediaStream_t* stream)
{
    const int pin = stream->pin();
    emit coIsMicPresent(microphonePresent_);
    detachTicker();
    AudioStreamGraph* graph = stream->audioStream();
    if (microphonePresent_) {
        mediaCheck(ms_filter_link(captureTee_, pin, graph->encoder, 0) == 0, "ret == 0", kSource);
        branchLinks_.push_back({captureTee_, pin, graph->encoder, 0});
        setBranchMuted(pin, true);
    }
    ms_filter_link(graph->dtmfgen, 0, playbackMixer_, pin);
    branchLinks_.push_back({graph->dtmfgen, 0, playbackMixer_, pin});
    stream->hac = this;
    stream->setTicker(msTicker_);
    attachTicker();
}

void HardwareAudioChannel::connectPaLoop(int pin)
{
    get_debug_log_ostream_enabled() << "Connecting audio loop for PA mode to mixer/tee pin " << pin << "\n";
    detachTicker();
    mediaCheck(ms_filter_link(captureTee_, pin, playbackMixer_, pin) == 0, "ret == 0", kSource);
    branchLinks_.push_back({captureTee_, pin, playbackMixer_, pin});
    setBranchMuted(pin, true);
    attachTicker();
}

void HardwareAudioChannel::setBranchMuted(int pin, bool muted)
{
    ms_filter_call_method(captureTee_, muted ? MS_TEE_MUTE : MS_TEE_UNMUTE, &pin);
}

void HardwareAudioChannel::viSetPlaybackVolumeSoftwareGain(int volumePercent)
{
    float gain = static_cast<float>(volumePercent) / 100.0f;
    if (gain > 0.0f) {
        // This build's decibel operation is 10 log10 of the linear factor.
        float dbGain = 10.0f * std::log10(gain);
        ms_filter_call_method(playbackVolume_, MS_VOLUME_SET_DB_GAIN, &dbGain);
    }
    ms_filter_call_method(playbackVolume_, MS_VOLUME_SET_GAIN, &gain);
}

void HardwareAudioChannel::ms_ticker_time_out_polling_slot()
{
    if (msTicker_ != nullptr && !stall_->isTimedOut())
        return;
    watchdogTimer_.stop();
    get_debug_log_ostream_enabled() << "Ticker timed out..." << "\n";
    emit coDisplayTickerTimeoutNotification("Audio processing unexpectedly stopped.  Restarting...");
    QCoreApplication::processEvents();
    QThread::msleep(static_cast<unsigned long>(restartDelayMs_));
    get_debug_log_ostream_enabled() << "Restarting..." << "\n";
    emit coRestartTalkboxTickerTimeout();
}
