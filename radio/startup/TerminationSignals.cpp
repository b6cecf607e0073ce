// Termination signals turned into a quit of the event loop: the handler only
// writes a byte to a pipe, which a notifier on the main thread reads.
#include "TerminationSignals.h"

#include "debug_log.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

int wakePipe[2] = {-1, -1};

void onTerminationSignal(int)
{
    const char byte = 1;
    (void)!::write(wakePipe[1], &byte, 1);
}

void onInterrupt(int)
{
    static const char message[] = "Interrupt signal ignored\n";
    (void)!::write(STDERR_FILENO, message, sizeof message - 1);
}

void installHandler(int signalNumber, void (*handler)(int))
{
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

namespace TerminationSignals {

void keepRunningOnInterrupt()
{
    installHandler(SIGINT, onInterrupt);
}

void quitEventLoopOnTermination()
{
    if (wakePipe[0] >= 0 || ::pipe2(wakePipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    auto* notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, QCoreApplication::instance());
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [] {
        char buffer[16];
        while (::read(wakePipe[0], buffer, sizeof buffer) > 0) {
        }
        debug_log_printf_always("Termination requested; closing\n");
        QCoreApplication::quit();
    });

    installHandler(SIGTERM, onTerminationSignal);
    installHandler(SIGHUP, onTerminationSignal);
}

} // namespace TerminationSignals
