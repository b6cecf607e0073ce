// Tests of the start-up guard: an escaping exception ends the event loop with
// the failure status and its message; a clean start-up leaves it running.
#include "StartupGuard.h"

#include "debug_log_control.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QTimer>

#include <stdexcept>

namespace {

struct GuardCase
{
    const char* what;
    std::function<void()> steps;
    int expectedStatus;
    const char* expectedMessage;
};

TEST(StartupGuardTest, ExceptionsEndTheProgramWithTheirMessage)
{
    const std::vector<GuardCase> cases = {
        {"standard exception", [] { throw std::runtime_error("cannot open settings"); }, kStartupFailedExitStatus,
         "Exiting because exception caught in function main(): cannot open settings\n"},
        {"other exception type", [] { throw 42; }, kStartupFailedExitStatus,
         "Exiting because exception caught in function main(): unknown exception\n"},
        {"clean start-up", [] { QTimer::singleShot(10, [] { QCoreApplication::exit(7); }); }, 7, ""},
    };
    for (const GuardCase& c : cases) {
        std::string log;
        debug_log_set_sink([&log](const char* text, std::size_t n) { log.append(text, n); });
        QTimer::singleShot(0, [&c] { runGuardedStartup(c.steps); });
        const int status = QCoreApplication::exec();
        debug_log_set_sink(nullptr);
        EXPECT_EQ(status, c.expectedStatus) << c.what;
        EXPECT_EQ(log, c.expectedMessage) << c.what;
    }
}

} // namespace
