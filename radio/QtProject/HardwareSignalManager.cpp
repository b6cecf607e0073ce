// The front-panel input loop.
#include "HardwareSignalManager.h"

#include "ManualLocationSource.h"
#include "ProcessFlags.h"

#include <QThread>

#include <cstdint>
#include <unistd.h>

HardwareSignalManager* HardwareSignalManager::instance()
{
    static HardwareSignalManager* const manager = new HardwareSignalManager;
    return manager;
}

void HardwareSignalManager::pollHardwarePtt()
{
    if (!ProcessFlags::startupComplete || hardwareInput_ <= 0)
        return;
    std::uint32_t state = 0;
    if (::read(hardwareInput_, &state, sizeof state) != static_cast<ssize_t>(sizeof state))
        return;  // a short or failed read says nothing about the line
    const bool pressed = (state & 1u) == 0;
    if (lastPttPressed_ != pressed) {
        lastPttPressed_ = pressed;
        emit coMicPttChanged(pressed);
    }
}

void HardwareSignalManager::pollOnce()
{
    pollHardwarePtt();
    pollManualLocation();
}

void HardwareSignalManager::eventLoop()
{
    constexpr int kPassMs = 1000;
    constexpr int kSliceMs = 50;
    while (!stopRequested_) {
        pollOnce();
        for (int slept = 0; slept < kPassMs && !stopRequested_; slept += kSliceMs)
            QThread::msleep(kSliceMs);
    }
}
