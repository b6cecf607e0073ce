// Scoped lock of the packet-queue mutex that traces acquiring and releasing
// it under the DEBUG_MUTEX_VV (long lines) and DEBUG_MUTEX_V (short) flags.
#pragma once

#include <mutex>

namespace Halvane::Sys {

// The six trace lines of one locking site, without their line ends.
struct LockTraceLines
{
    const char* aboutToAcquire;
    const char* acquired;
    const char* aboutToRelease;
    const char* aboutToAcquireShort;
    const char* acquiredShort;
    const char* aboutToReleaseShort;
};

class CTracedLock
{
public:
    CTracedLock(std::mutex& mutex, const LockTraceLines& lines);
    ~CTracedLock();
    CTracedLock(const CTracedLock&) = delete;
    CTracedLock& operator=(const CTracedLock&) = delete;

private:
    std::mutex& mMutex;
    const LockTraceLines& mLines;
    // Read once per lock: flag lookups are on every packet's path.
    const bool mTraceLong;
    const bool mTraceShort;
};

} // namespace Halvane::Sys
