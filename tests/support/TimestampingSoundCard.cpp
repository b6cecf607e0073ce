// The timestamping sound card: a capture filter that paces itself by the
// media ticker's clock and a playback filter that notes what it is given.
#include "TimestampingSoundCard.h"

#include <mediastreamer2/msfactory.h>
#include <mediastreamer2/msfilter.h>
#include <mediastreamer2/mssndcard.h>
#include <mediastreamer2/msticker.h>

#include <cmath>

namespace rvx::test {

namespace {

constexpr std::size_t kMostPlayedBlocksKept = 30000; // several minutes of 10 ms blocks
constexpr std::int16_t kToneAmplitude = 12000;

TimestampingSoundCard* installedCard = nullptr;
std::string installedCardId;

struct CardFilterState
{
    int rate = 8000;
    int channels = 1;
    // Capture only: samples made since the first tick, and the tone's phase.
    bool started = false;
    std::uint64_t startMs = 0;
    std::uint64_t samplesMade = 0;
    double phase = 0.0;
    int lastToneHz = 0;
};

CardFilterState* stateOf(MSFilter* f)
{
    return static_cast<CardFilterState*>(f->data);
}

void filterInit(MSFilter* f)
{
    f->data = new CardFilterState;
}

void filterUninit(MSFilter* f)
{
    delete stateOf(f);
}

int setRate(MSFilter* f, void* arg)
{
    stateOf(f)->rate = *static_cast<int*>(arg);
    return 0;
}

int getRate(MSFilter* f, void* arg)
{
    *static_cast<int*>(arg) = stateOf(f)->rate;
    return 0;
}

int setChannels(MSFilter* f, void* arg)
{
    stateOf(f)->channels = *static_cast<int*>(arg);
    return 0;
}

int getChannels(MSFilter* f, void* arg)
{
    *static_cast<int*>(arg) = stateOf(f)->channels;
    return 0;
}

MSFilterMethod cardMethods[] = {{MS_FILTER_SET_SAMPLE_RATE, setRate},
                                {MS_FILTER_GET_SAMPLE_RATE, getRate},
                                {MS_FILTER_SET_NCHANNELS, setChannels},
                                {MS_FILTER_GET_NCHANNELS, getChannels},
                                {0, nullptr}};

// Makes as many samples as the ticker's clock says are due, so the capture
// runs at the real rate however the ticks fall.
void captureProcess(MSFilter* f)
{
    CardFilterState* state = stateOf(f);
    const std::uint64_t now = f->ticker->time;
    if (!state->started) {
        state->started = true;
        state->startMs = now;
    }
    const std::uint64_t due = (now - state->startMs + f->ticker->interval) * state->rate / 1000;
    if (due <= state->samplesMade)
        return;
    const std::size_t count = due - state->samplesMade;
    state->samplesMade = due;
    const int hz = installedCard->ToneHz();
    mblk_t* block = allocb(count * 2 * state->channels, 0);
    auto* samples = reinterpret_cast<std::int16_t*>(block->b_wptr);
    const double step = 2.0 * M_PI * hz / state->rate;
    for (std::size_t i = 0; i < count; ++i) {
        const std::int16_t value = hz > 0 ? static_cast<std::int16_t>(kToneAmplitude * std::sin(state->phase)) : 0;
        state->phase = std::fmod(state->phase + step, 2.0 * M_PI);
        for (int c = 0; c < state->channels; ++c)
            *samples++ = value;
    }
    block->b_wptr = reinterpret_cast<unsigned char*>(samples);
    if (hz > 0 && state->lastToneHz == 0)
        installedCard->NoteBurstStarted(TimestampingSoundCard::Clock::now());
    state->lastToneHz = hz;
    ms_queue_put(f->outputs[0], block);
}

void playbackProcess(MSFilter* f)
{
    while (mblk_t* block = ms_queue_get(f->inputs[0])) {
        const auto* samples = reinterpret_cast<const std::int16_t*>(block->b_rptr);
        const std::size_t count = static_cast<std::size_t>(block->b_wptr - block->b_rptr) / 2;
        double sum = 0.0;
        for (std::size_t i = 0; i < count; ++i)
            sum += double(samples[i]) * samples[i];
        installedCard->NotePlayed(TimestampingSoundCard::Clock::now(), count > 0 ? std::sqrt(sum / count) : 0.0);
        freemsg(block);
    }
}

MSFilterDesc captureDesc = {MS_FILTER_PLUGIN_ID, "TimestampingCapture", "Timed test capture", MS_FILTER_OTHER,
                            nullptr, 0, 1, filterInit, nullptr, captureProcess, nullptr, filterUninit,
                            cardMethods, 0};

MSFilterDesc playbackDesc = {MS_FILTER_PLUGIN_ID, "TimestampingPlayback", "Timed test playback", MS_FILTER_OTHER,
                             nullptr, 1, 0, filterInit, nullptr, playbackProcess, nullptr, filterUninit,
                             cardMethods, 0};

MSFilter* createReader(MSSndCard* card)
{
    return ms_factory_create_filter_from_desc(ms_snd_card_get_factory(card), &captureDesc);
}

MSFilter* createWriter(MSSndCard* card)
{
    return ms_factory_create_filter_from_desc(ms_snd_card_get_factory(card), &playbackDesc);
}

MSSndCardDesc cardDesc = [] {
    MSSndCardDesc desc{};
    desc.driver_type = "Timestamping";
    desc.create_reader = createReader;
    desc.create_writer = createWriter;
    return desc;
}();

} // namespace

TimestampingSoundCard& TimestampingSoundCard::Install(_MSFactory* factory)
{
    static TimestampingSoundCard* card = [factory] {
        installedCard = new TimestampingSoundCard;
        MSSndCard* soundCard = ms_snd_card_new_with_name(&cardDesc, "timing");
        ms_snd_card_manager_add_card(ms_factory_get_snd_card_manager(factory), soundCard);
        installedCardId = ms_snd_card_get_string_id(soundCard);
        return installedCard;
    }();
    return *card;
}

std::string TimestampingSoundCard::CardId()
{
    return installedCardId;
}

void TimestampingSoundCard::SetCaptureTone(int hz)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (hz > 0 && toneHz_ == 0) {
        burstPending_ = true;
        burstStartedAt_.reset();
    }
    toneHz_ = hz;
}

std::optional<TimestampingSoundCard::Clock::time_point> TimestampingSoundCard::BurstStartedAt() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return burstStartedAt_;
}

std::optional<TimestampingSoundCard::Clock::time_point>
TimestampingSoundCard::FirstLoudBlockAfter(Clock::time_point since, double rmsThreshold) const
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const PlayedBlock& block : played_)
        if (block.when >= since && block.rms >= rmsThreshold)
            return block.when;
    return std::nullopt;
}

int TimestampingSoundCard::ToneHz() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return toneHz_;
}

void TimestampingSoundCard::NoteBurstStarted(Clock::time_point when)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (burstPending_) {
        burstPending_ = false;
        burstStartedAt_ = when;
    }
}

void TimestampingSoundCard::NotePlayed(Clock::time_point when, double rms)
{
    std::lock_guard<std::mutex> lock(mutex_);
    played_.push_back({when, rms});
    if (played_.size() > kMostPlayedBlocksKept)
        played_.pop_front();
}

} // namespace rvx::test
