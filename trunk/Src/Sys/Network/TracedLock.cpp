// Scoped, traced lock of the packet-queue mutex.
#include "Sys/Network/TracedLock.h"

#include "debug_log.h"

namespace Halvane::Sys {

namespace {

void Trace(bool on, const char* line)
{
    if (on)
        debug_log_printf_always("%s\n", line);
}

} // namespace

CTracedLock::CTracedLock(std::mutex& mutex, const LockTraceLines& lines)
    : mMutex(mutex), mLines(lines), mTraceLong(debug_log_is_enabled("DEBUG_MUTEX_VV")),
      mTraceShort(debug_log_is_enabled("DEBUG_MUTEX_V"))
{
    Trace(mTraceLong, mLines.aboutToAcquire);
    Trace(mTraceShort, mLines.aboutToAcquireShort);
    mMutex.lock();
    Trace(mTraceLong, mLines.acquired);
    Trace(mTraceShort, mLines.acquiredShort);
}

CTracedLock::~CTracedLock()
{
    Trace(mTraceLong, mLines.aboutToRelease);
    Trace(mTraceShort, mLines.aboutToReleaseShort);
    mMutex.unlock();
}

} // namespace Halvane::Sys
