// Exception guard of the start-up sequence.
#include "StartupGuard.h"

#include "debug_log.h"

#include <QCoreApplication>

#include <exception>

namespace {
void endStartup(const char* reason)
{
    debug_log_printf_always("Exiting because exception caught in function main(): %s\n", reason);
    QCoreApplication::exit(kStartupFailedExitStatus);
}
} // namespace

bool runGuardedStartup(const std::function<void()>& steps)
{
    try {
        steps();
        return true;
    } catch (const std::exception& error) {
        endStartup(error.what());
    } catch (...) {
        endStartup("unknown exception");
    }
    return false;
}
