// Shared set-up of the media tests: one headless sound server per test
// process, started before the media library so that its cards are listed,
// the trunk interface, and a helper that runs the event loop for a while.
#pragma once

#include "HardwareAudioChannel.h"
#include "MediaLibrary.h"
#include "PulseAudioServer.h"
#include "TrunkCalls.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <chrono>
#include <cmath>
#include <vector>
#include <mediastreamer2/mssndcard.h>

namespace rvx::test {

constexpr int kCapturedToneHz = 1000;

inline void InitMediaAndTrunk()
{
    initMediaLibrary();
    ms_snd_card_manager_reload(ms_factory_get_snd_card_manager(mediaFactory()));
    registerPayloadTypes();
    trunk::initInterface(0x0A0B0C, 0, "lo", nullptr);
}

// The sound server (its capture source plays a kCapturedToneHz sine) and
// the media library, made once per process.
inline PulseAudioServer& SoundServerAndMedia()
{
    static PulseAudioServer server(kCapturedToneHz);
    static const bool initialised = (InitMediaAndTrunk(), true);
    (void)initialised;
    return server;
}

// The audio channel on the default cards (the sound server's).
inline HardwareAudioChannel::Options DefaultCards()
{
    HardwareAudioChannel::Options options;
    options.readSettings = false;
    return options;
}

// Runs the event loop for the duration without spinning.
inline void Pump(std::chrono::milliseconds duration)
{
    QEventLoop loop;
    QTimer::singleShot(duration, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until the sink plays something audible (at most 3 s):
// the sound server's recorder starts late.
inline bool WaitUntilAudible(PulseAudioServer& server)
{
    for (int i = 0; i < 30; ++i) {
        if (Level(server.RecordPlayback(std::chrono::milliseconds(100))) > 100.0)
            return true;
        QCoreApplication::processEvents();
    }
    return false;
}

} // namespace rvx::test
