// Entry point of RVX4400w: creates the application and the main window and
// runs the event loop; the window's start-up slot brings the radio up.
#include "MainWindow.h"

#include "NetworkInterfaceManager.h"
#include "PersistentQSettings.h"
#include "TerminationSignals.h"
#include "WorkerThreads.h"
#include "debug_log.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <unistd.h>

namespace {
// Created before the entry point, as the rest of the program expects.
[[maybe_unused]] NetworkInterfaceManager_t* const networkInterfaceManager = NetworkInterfaceManager_t::instance();
// How long the program waits at exit for workers busy with a request.
constexpr std::chrono::milliseconds kWorkerStopLimit{1500};
} // namespace

int main(int argc, char** argv)
{
    debug_log_set_argv0(argv[0]);

    debug_log_printf("DEBUG_STARTUP", "Creating QApplication\n");
    auto* application = new QApplication(argc, argv);
    auto* font = new QFont(QApplication::font());
    font->setPixelSize(11);
    QApplication::setFont(*font);
    QApplication::setApplicationVersion(QStringLiteral("1.78"));
    TerminationSignals::quitEventLoopOnTermination();

    debug_log_printf("DEBUG_STARTUP", "Creating MainWindow\n");
    auto* window = new MainWindow;
    window->setWindowFlags(window->windowFlags() | Qt::FramelessWindowHint);
    window->setAttribute(Qt::WA_TranslucentBackground);

    debug_log_printf("DEBUG_STARTUP", "Showing MainWindow\n");
    window->show();

    debug_log_printf("DEBUG_STARTUP", "Calling a.exec()\n");
    const int status = QApplication::exec();

    // The workers read the settings store, the own position and the
    // contact list until they stop: they stop first, the store is written,
    // and the process ends without running static destructors (the media
    // ticker and a worker still inside a network request would otherwise
    // meet freed objects).
    WorkerThreads::stopAll(kWorkerStopLimit);
    PersistentQSettings::flushIfOpen();
    delete window;
    delete font;
    delete application;
    std::fflush(nullptr);
    _exit(status);
}
