// The baseline for the program benchmarks: a bare Qt window of the radio's
// size and kind (frameless, fixed 1180x380) that does nothing. It prints
// "Window shown" once its event loop runs with the window shown, and ends
// on SIGTERM like the radio.
#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <QWidget>

#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int terminationPipe[2] = {-1, -1};

void onTermination(int)
{
    const char byte = 1;
    [[maybe_unused]] const ssize_t written = ::write(terminationPipe[1], &byte, 1);
}

// SIGTERM ends the event loop, so the program leaves through its normal exit.
void quitOnTermination()
{
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, terminationPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(terminationPipe[0], QSocketNotifier::Read, qApp);
    QObject::connect(notifier, &QSocketNotifier::activated, qApp, &QCoreApplication::quit);
    std::signal(SIGTERM, onTermination);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    quitOnTermination();
    QWidget window;
    window.setWindowTitle(QStringLiteral("Bare window"));
    window.setWindowFlags(window.windowFlags() | Qt::FramelessWindowHint);
    window.setFixedSize(1180, 380);
    window.show();
    QTimer::singleShot(0, [] {
        std::fprintf(stderr, "Window shown\n");
        std::fflush(stderr);
    });
    return QApplication::exec();
}
