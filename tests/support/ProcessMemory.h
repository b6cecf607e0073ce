// The test process's peak resident memory, for tests that a large input is
// refused without being held in memory. Linux only (/proc).
#pragma once

#include <fstream>
#include <string>

namespace rvx::test {

// Under AddressSanitizer freed memory stays resident in its quarantine, so
// the peak tells how much was allocated in all, not how much was held at
// once; tests then leave the peak unchecked.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kPeakMemoryMeansHeld = false;
#else
constexpr bool kPeakMemoryMeansHeld = true;
#endif

// Peak resident memory in bytes ("VmHWM"), 0 when unknown.
inline long long PeakMemory()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6)) * 1024;
    return 0;
}

// Sets the peak back to the current use and returns it.
inline long long PeakMemoryAfterReset()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return PeakMemory();
}

} // namespace rvx::test
