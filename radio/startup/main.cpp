// Entry point of RVX4400w: creates the application and the main window and
// runs the event loop; the window's start-up slot brings the radio up.
#include "MainWindow.h"

#include "AppDataFolder.h"
#include "NetworkInterfaceManager.h"
#include "PersistentQSettings.h"
#include "ProgramOptions.h"
#include "ProgramRestart.h"
#include "SingleInstance.h"
#include "TerminationSignals.h"
#include "WindowActivation.h"
#include "WorkerThreads.h"
#include "debug_log.h"

#include <QApplication>
#include <QFont>

#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {
// Created before the entry point, as the rest of the program expects.
[[maybe_unused]] NetworkInterfaceManager_t* const networkInterfaceManager = NetworkInterfaceManager_t::instance();
// How long the program waits at exit for workers busy with a request.
constexpr std::chrono::milliseconds kWorkerStopLimit{1500};

// Ends a start that found the radio already running with its data folder.
[[noreturn]] void endSecondStart(QApplication* application)
{
    debug_log_printf_always("RVX4400w is already running with this data folder; its window was brought to the front\n");
    delete application;
    std::fflush(nullptr);
    _exit(0);
}
} // namespace

int main(int argc, char** argv)
{
    if (const std::optional<int> status = ProgramOptions::answerInformationRequest(argc, argv, stdout))
        return *status;
    debug_log_set_argv0(argv[0]);

    debug_log_printf("DEBUG_STARTUP", "Creating QApplication\n");
    auto* application = new QApplication(argc, argv);
    auto* font = new QFont(QApplication::font());
    font->setPixelSize(11);
    QApplication::setFont(*font);
    QApplication::setApplicationVersion(QString::fromLatin1(ProgramOptions::version()));
    // The desktop entry's name: desktops group the window with its launcher.
    QGuiApplication::setDesktopFileName(QStringLiteral("rvx4400w"));

    // Before the key ring, the sound cards or a port are touched.
    auto* instance = new SingleInstance(appDataFolder());
    if (instance->claim() == SingleInstance::Role::Another)
        endSecondStart(application);
    ProgramRestart::setHandover({[instance] { instance->release(); }, [instance] { instance->retake(); }});
    TerminationSignals::quitEventLoopOnTermination();

    debug_log_printf("DEBUG_STARTUP", "Creating MainWindow\n");
    auto* window = new MainWindow;
    window->setWindowFlags(window->windowFlags() | Qt::FramelessWindowHint);
    window->setAttribute(Qt::WA_TranslucentBackground);
    QObject::connect(instance, &SingleInstance::activationRequested, window,
                     [window] { WindowActivation::bringToFront(window); });

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
    instance->release();
    delete window;
    delete font;
    delete application;
    std::fflush(nullptr);
    _exit(status);
}
