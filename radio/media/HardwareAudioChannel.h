// The sound-card side of the media graph: one playback chain that mixes the
// received audio and tones of every stream by pin, one capture chain whose
// splitter feeds each stream's encoder by pin, the one media ticker that runs
// it all, and a watchdog that restarts the program when the ticker stalls.
#pragma once

#include "RadioStream.h"
#include "TickerStall.h"

#include <QObject>
#include <QString>
#include <QTimer>

#include <memory>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/msticker.h>
#include <string>
#include <vector>

class MediaStream_t;

class HardwareAudioChannel : public QObject, public RadioAudioOutput
{
    Q_OBJECT
public:
    static constexpr int kSoundcardSampleRate = 24000;
    static constexpr int kStreamSampleRate = 8000;

    struct Options
    {
        // Card ids as the card manager lists them; empty reads the local
        // settings playback_audio_dev_id and capture_audio_dev_id.
        std::string playbackCardId;
        std::string captureCardId;
        bool readSettings = true;
        int watchdogPeriodMs = 1000;
        int restartDelayMs = 3000;
    };

    HardwareAudioChannel();
    explicit HardwareAudioChannel(const Options& options);
    ~HardwareAudioChannel() override;

    void attachMediaStream(MediaStream_t* stream);
    void connectPaLoop(int pin);
    void setBranchMuted(int pin, bool muted) override;

    bool microphonePresent() const { return microphonePresent_; }
    bool playbackPresent() const { return playbackCard_ != nullptr; }
    MSTicker* ticker() const { return msTicker_; }

    // Graph changes happen between these two.
    void detachTicker();
    void attachTicker();

public slots:
    void viSetPlaybackVolumeSoftwareGain(int volumePercent);
    void ms_ticker_time_out_polling_slot();

signals:
    void coIsMicPresent(bool present);
    void coDisplayTickerTimeoutNotification(QString text);
    void coRestartTalkboxTickerTimeout();

private:
    void createFilters();
    void chooseCards(const Options& options);
    void createCardFilters();
    void linkPlaybackChain();
    void linkCaptureChain();
    void startWatchdog(int periodMs);
    static void onWriterEvent(void* flowControl, MSFilter* writer, unsigned int id, void* arg);

    static MSTicker* msTicker_;

    MSSndCard* playbackCard_ = nullptr;
    MSSndCard* captureCard_ = nullptr;
    MSFilter* playbackVolume_ = nullptr;
    MSFilter* playbackResampler_ = nullptr;
    MSFilter* captureResampler_ = nullptr;
    MSFilter* playbackFlowControl_ = nullptr;
    MSFilter* sndPlaybackFilter_ = nullptr;
    MSFilter* sndCaptureFilter_ = nullptr;
    MSFilter* captureTee_ = nullptr;
    // Takes the captured audio on the splitter's last output, never muted.
    MSFilter* captureDrain_ = nullptr;
    MSFilter* playbackMixer_ = nullptr;
    bool microphonePresent_ = true;
    bool tickerAttached_ = false;
    int restartDelayMs_ = 3000;
    std::unique_ptr<TickerStall> stall_;
    QTimer watchdogTimer_;
    // (filter, output pin, filter, input pin) links made by attach and loop.
    struct Link
    {
        MSFilter* from;
        int outPin;
        MSFilter* to;
        int inPin;
    };
    std::vector<Link> branchLinks_;
};
