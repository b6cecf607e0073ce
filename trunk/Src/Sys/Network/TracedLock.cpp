// Scoped, traced lock of the packet-queue mutex.
#include "Sys/Network/TracedLock.h"

#include "debug_log.h"

namespace Halvane::Sys {

namespace {

void Trace(const char* longLine, const char* shortLine)
{
    debug_log_printf("DEBUG_MUTEX_VV", "%s\n", longLine);
    debug_log_printf("DEBUG_MUTEX_V", "%s\n", shortLine);
}

} // namespace

CTracedLock::CTracedLock(std::mutex& mutex, const LockTraceLines& lines) : mMutex(mutex), mLines(lines)
{
    Trace(mLines.aboutToAcquire, mLines.aboutToAcquireShort);
    mMutex.lock();
    Trace(mLines.acquired, mLines.acquiredShort);
}

CTracedLock::~CTracedLock()
{
    Trace(mLines.aboutToRelease, mLines.aboutToReleaseShort);
    mMutex.unlock();
}

} // namespace Halvane::Sys
