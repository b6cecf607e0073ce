// The relay's sockets and its serving loop.
#include "RelayServer.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace Relay {

namespace {

constexpr std::size_t kBatch = 1024;
constexpr int kSocketBufferBytes = 4 << 20;

volatile std::sig_atomic_t g_stopSignal = 0;
volatile std::sig_atomic_t g_printSignal = 0;

void OnStopSignal(int)
{
    g_stopSignal = 1;
}

void OnPrintSignal(int)
{
    g_printSignal = 1;
}

int OpenBoundSocket(const std::string& address, unsigned short port, std::string& error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

unsigned short BoundPort(int fd)
{
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0)
        return 0;
    return ntohs(local.sin_port);
}

void SetBufferSizes(int fd)
{
    // Large buffers ride out bursts of fan-out; the system may cap them.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
}

// Signals are blocked except while the loop waits in ppoll, so a signal is
// never lost between testing the flags and waiting.
sigset_t InstallSignalHandlers()
{
    struct sigaction stop{};
    stop.sa_handler = OnStopSignal;
    sigaction(SIGINT, &stop, nullptr);
    sigaction(SIGTERM, &stop, nullptr);
    struct sigaction print{};
    print.sa_handler = OnPrintSignal;
    sigaction(SIGUSR1, &print, nullptr);
    sigset_t blocked, previous;
    sigemptyset(&blocked);
    sigaddset(&blocked, SIGINT);
    sigaddset(&blocked, SIGTERM);
    sigaddset(&blocked, SIGUSR1);
    sigprocmask(SIG_BLOCK, &blocked, &previous);
    return previous;
}

} // namespace

RelayServer::RelayServer(const RelayOptions& options)
    : mOptions(options), mRouter(*this, RouterSettings{options.subscriberTimeout, options.maxSubscribers})
{
}

RelayServer::~RelayServer()
{
    if (mTrunkSocket >= 0)
        ::close(mTrunkSocket);
    if (mControlSocket >= 0)
        ::close(mControlSocket);
}

bool RelayServer::Open(std::string& error)
{
    mTrunkSocket = OpenBoundSocket(mOptions.listenAddress, mOptions.port, error);
    if (mTrunkSocket < 0)
        return false;
    SetBufferSizes(mTrunkSocket);
    mControlSocket = OpenBoundSocket("127.0.0.1", mOptions.EffectiveControlPort(), error);
    return mControlSocket >= 0;
}

unsigned short RelayServer::TrunkPort() const
{
    return BoundPort(mTrunkSocket);
}

unsigned short RelayServer::ControlPort() const
{
    return BoundPort(mControlSocket);
}

bool RelayServer::SendTo(const Endpoint& to, const unsigned char* data, std::size_t length)
{
    const sockaddr_in address = to.ToSocketAddress();
    return ::sendto(mTrunkSocket, data, length, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
           static_cast<ssize_t>(length);
}

std::size_t RelayServer::DrainTrunkSocket(Clock::time_point now)
{
    // One byte more than the largest trunk datagram, with MSG_TRUNC, tells
    // an oversized datagram from a full one.
    unsigned char datagram[2048];
    std::size_t handled = 0;
    for (; handled < kBatch; ++handled) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length = ::recvfrom(mTrunkSocket, datagram, sizeof datagram, MSG_TRUNC,
                                          reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0)
            break;
        mRouter.HandleDatagram(Endpoint::From(from), datagram, static_cast<std::size_t>(length), now);
    }
    return handled;
}

void RelayServer::HandleControlRequests()
{
    char request[256];
    for (;;) {
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t length =
            ::recvfrom(mControlSocket, request, sizeof request - 1, 0, reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (length < 0)
            return;
        const std::string reply = Execute(std::string(request, static_cast<std::size_t>(length)));
        ::sendto(mControlSocket, reply.data(), reply.size(), 0, reinterpret_cast<const sockaddr*>(&from), fromLength);
    }
}

std::string RelayServer::Execute(const std::string& request)
{
    std::istringstream words(request);
    std::string verb;
    words >> verb;
    if (verb == "counters")
        return mRouter.Counters().Format(mRouter.Subscribers());
    if (verb == "stop") {
        mStopRequested = true;
        return "stopping\n";
    }
    std::string id;
    unsigned long long deviceId = 0;
    if (verb == "notify" && (words >> id) && ParseNumber(id, 0xFFFFFFFFull, deviceId))
        return "notified " + std::to_string(mRouter.NotifySettingsChanged(static_cast<unsigned int>(deviceId))) + "\n";
    return "error: unknown request\n";
}

void RelayServer::Run(std::ostream& out)
{
    const sigset_t waitMask = InstallSignalHandlers();
    Clock::time_point lastSweep = Clock::now();
    while (!mStopRequested && !g_stopSignal) {
        pollfd sockets[2] = {{mTrunkSocket, POLLIN, 0}, {mControlSocket, POLLIN, 0}};
        const timespec tick{1, 0};
        const int ready = ::ppoll(sockets, 2, &tick, &waitMask);
        if (g_printSignal) {
            g_printSignal = 0;
            out << mRouter.Counters().Format(mRouter.Subscribers()) << std::flush;
        }
        const Clock::time_point now = Clock::now();
        if (ready > 0 && (sockets[0].revents & POLLIN))
            DrainTrunkSocket(now);
        if (ready > 0 && (sockets[1].revents & POLLIN))
            HandleControlRequests();
        if (now - lastSweep >= std::chrono::seconds(1)) {
            mRouter.ForgetSilentSubscribers(now);
            lastSweep = now;
        }
    }
    out << mRouter.Counters().Format(mRouter.Subscribers()) << std::flush;
}

} // namespace Relay
