// Stops the program when a media element it cannot run without is missing,
// naming the failed condition and the source that checked it.
#pragma once

#include "debug_log.h"

#include <cstdlib>

inline void mediaCheck(bool ok, const char* condition, const char* source)
{
    if (ok)
        return;
    debug_log_printf_always("Fatal: %s (%s)\n", condition, source);
    std::abort();
}
