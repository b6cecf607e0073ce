// The relay's sockets, threads and main loop.
#include "RelayServer.h"

#include "ControlSocket.h"
#include "MetricsText.h"
#include "RelayLog.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/eventfd.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

#ifndef HALVANE_RELAY_VERSION
#define HALVANE_RELAY_VERSION "unknown"
#endif

namespace Relay {

namespace {

constexpr int kSocketBufferBytes = 4 << 20;
constexpr Clock::duration kRefusalLogInterval = std::chrono::seconds(10);

int OpenTrunkSocket(const std::string& address, unsigned short port, bool shared, std::string& error)
{
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(port);
    inet_pton(AF_INET, address.c_str(), &local.sin_addr);
    if (fd < 0 || (shared && ::setsockopt(fd, SOL_SOCKET, SO_REUSEPORT, &on, sizeof on) != 0) ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        error = "cannot listen on " + address + ":" + std::to_string(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    // Large buffers ride out bursts of fan-out; the system may cap them.
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
    ::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &kSocketBufferBytes, sizeof kSocketBufferBytes);
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

sigset_t StopSignals()
{
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGUSR1);
    return signals;
}

void CloseIfOpen(int& fd)
{
    if (fd >= 0)
        ::close(fd);
    fd = -1;
}

} // namespace

std::string RelayVersion()
{
    return HALVANE_RELAY_VERSION;
}

bool RelayServer::StartThread(std::function<void()> body, std::thread& thread)
{
    try {
        thread = std::thread(std::move(body));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

RelayServer::RelayServer(const RelayOptions& options, ThreadStarter starter, const WorkerTuning& tuning)
    : mOptions(options), mStarter(std::move(starter)), mTuning(tuning), mRouter(options.router)
{
}

RelayServer::~RelayServer()
{
    Shutdown();
    for (int& fd : mTrunkSockets)
        CloseIfOpen(fd);
    CloseIfOpen(mControlSocket);
    CloseIfOpen(mMetricsSocket);
    CloseIfOpen(mStopEvent);
}

void RelayServer::BlockStopSignals()
{
    const sigset_t signals = StopSignals();
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

bool RelayServer::Open(std::string& error)
{
    mStopEvent = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (mStopEvent < 0) {
        error = std::string("cannot make an event descriptor: ") + std::strerror(errno);
        return false;
    }
    if (!OpenTrunkSockets(error))
        return false;
    mControlPath = mOptions.ControlPath();
    if (!mControlPath.empty()) {
        mControlSocket = OpenControlSocket(mControlPath, mOptions.controlGroup, error);
        if (mControlSocket < 0)
            return false;
        mControlInode = InodeOf(mControlPath);
    }
    if (!mOptions.metrics.empty()) {
        mMetricsSocket = MetricsServer::Listen(mOptions.metrics, error);
        if (mMetricsSocket < 0)
            return false;
        mMetricsPort = BoundPort(mMetricsSocket);
    }
    return true;
}

bool RelayServer::OpenTrunkSockets(std::string& error)
{
    const std::size_t workers = mOptions.EffectiveWorkers();
    // Several sockets on one port share the datagrams by sender: each
    // sender's go to one socket, in order.
    const bool shared = workers > 1;
    for (std::size_t i = 0; i < workers; ++i) {
        const int fd = OpenTrunkSocket(mOptions.listenAddress, i == 0 ? mOptions.port : mTrunkPort, shared, error);
        if (fd < 0)
            return false;
        mTrunkSockets.push_back(fd);
        mTrunkPort = BoundPort(fd);
    }
    return true;
}

bool RelayServer::Start(std::string& error)
{
    for (std::size_t i = 0; i < mTrunkSockets.size(); ++i) {
        auto worker = std::make_unique<TrunkWorker>(mTrunkSockets[i], mRouter, mRouterLock, mStopEvent, mTuning);
        std::thread thread;
        if (!mStarter([w = worker.get()] { w->Run(); }, thread)) {
            // Closing the socket takes it out of the port's group: nothing
            // is left waiting in a socket that nobody reads.
            Log(LogLevel::kError, "forwarding thread " + std::to_string(i + 1) + " of " +
                                      std::to_string(mTrunkSockets.size()) + " could not start; its socket is closed");
            CloseIfOpen(mTrunkSockets[i]);
            continue;
        }
        mWorkers.push_back(std::move(worker));
        mThreads.push_back(std::move(thread));
    }
    if (mWorkers.empty()) {
        error = "no forwarding thread could start";
        return false;
    }
    if (mControlSocket >= 0) {
        mControl = std::make_unique<ControlServer>(mControlSocket, mStopEvent,
                                                   [this](const std::string& request) { return Execute(request); });
        mControlSocket = -1; // the control server owns it now
        std::thread thread;
        if (!mStarter([this] { mControl->Run(); }, thread)) {
            error = "the control thread could not start";
            return false;
        }
        mThreads.push_back(std::move(thread));
    }
    if (mMetricsSocket >= 0) {
        mMetrics = std::make_unique<MetricsServer>(mMetricsSocket, mStopEvent,
                                                   [this] { return PrometheusText(Stats(), RelayVersion()); });
        mMetricsSocket = -1;
        std::thread thread;
        if (!mStarter([this] { mMetrics->Run(); }, thread)) {
            error = "the metrics thread could not start";
            return false;
        }
        mThreads.push_back(std::move(thread));
    }
    return true;
}

void RelayServer::RequestStop()
{
    if (mStopEvent < 0)
        return;
    const std::uint64_t one = 1;
    const ssize_t written = ::write(mStopEvent, &one, sizeof one);
    (void)written;
}

void RelayServer::Shutdown()
{
    if (mShutDown)
        return;
    mShutDown = true;
    RequestStop();
    for (std::thread& thread : mThreads)
        if (thread.joinable())
            thread.join();
    mControl.reset();
    mMetrics.reset();
    if (!mControlPath.empty())
        RemoveControlSocket(mControlPath, mControlInode);
}

void RelayServer::Run(std::ostream& out)
{
    BlockStopSignals();
    const sigset_t signals = StopSignals();
    const int signalEvent = ::signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    Clock::time_point nextSweep = Clock::now() + std::chrono::seconds(1);
    for (bool stopping = false; !stopping;) {
        pollfd waiting[2] = {{signalEvent, POLLIN, 0}, {mStopEvent, POLLIN, 0}};
        const auto untilSweep = std::chrono::duration_cast<std::chrono::milliseconds>(nextSweep - Clock::now());
        ::poll(waiting, 2, static_cast<int>(std::max<long long>(0, untilSweep.count())));
        signalfd_siginfo signal{};
        while (::read(signalEvent, &signal, sizeof signal) == sizeof signal) {
            if (signal.ssi_signo == SIGUSR1) {
                out << Stats().Format() << std::flush;
            } else {
                Log(LogLevel::kInfo, std::string("stopping on ") + (signal.ssi_signo == SIGINT ? "SIGINT" : "SIGTERM"));
                stopping = true;
            }
        }
        if (waiting[1].revents & POLLIN) {
            Log(LogLevel::kInfo, "stopping on request");
            stopping = true;
        }
        if (Clock::now() >= nextSweep) {
            Housekeeping(Clock::now());
            nextSweep = Clock::now() + std::chrono::seconds(1);
        }
    }
    ::close(signalEvent);
    Shutdown();
    out << Stats().Format() << std::flush;
}

void RelayServer::Housekeeping(Clock::time_point now)
{
    {
        std::lock_guard<std::mutex> lock(mRouterLock);
        mRouter.Sweep(now);
    }
    LogRefusals(now);
}

void RelayServer::LogRefusals(Clock::time_point now)
{
    if (now - mLastRefusalLog < kRefusalLogInterval)
        return;
    mLastRefusalLog = now;
    std::array<std::uint64_t, kRefusals> refusals{};
    {
        std::lock_guard<std::mutex> lock(mRouterLock);
        refusals = mRouter.Counters().refusals;
    }
    // One line per reason and interval, however many there were.
    for (std::size_t i = 0; i < kRefusals; ++i) {
        const std::uint64_t fresh = refusals[i] - mLoggedRefusals[i];
        if (fresh == 0)
            continue;
        const auto reason = static_cast<Refusal>(i);
        const LogLevel level = reason == Refusal::kDuplicate ? LogLevel::kInfo : LogLevel::kWarning;
        Log(level, "refused " + std::to_string(fresh) + " (" + NameOf(reason) + ") in the last " +
                       std::to_string(std::chrono::duration_cast<std::chrono::seconds>(kRefusalLogInterval).count()) +
                       " s");
    }
    mLoggedRefusals = refusals;
}

RelayStats RelayServer::Stats() const
{
    RelayStats stats;
    {
        std::lock_guard<std::mutex> lock(mRouterLock);
        stats.router = mRouter.Counters();
        const SubscriberTable& table = mRouter.Table();
        stats.subscribers = table.Size();
        stats.provenSubscribers = table.ProvenCount();
        stats.subscriptions = table.Subscriptions();
        stats.groups = table.Groups();
        stats.sourceAddresses = table.SourceAddresses();
    }
    for (const auto& worker : mWorkers)
        stats.Add(worker->Counters());
    stats.Add(mDirect.counters);
    stats.workers = mWorkers.size();
    return stats;
}

std::uint64_t RelayServer::CopiesSent() const
{
    std::uint64_t copies = 0;
    for (const auto& worker : mWorkers)
        copies += worker->Counters().datagramsOut[static_cast<std::size_t>(OutKind::kGroupMessage)].load(
            std::memory_order_relaxed);
    return copies;
}

std::string RelayServer::Execute(const std::string& request)
{
    std::istringstream words(request);
    std::string verb;
    words >> verb;
    if (verb == "counters")
        return Stats().Format();
    if (verb == "stop") {
        RequestStop();
        return "stopping\n";
    }
    std::string id;
    unsigned long long deviceId = 0;
    if (verb == "notify" && (words >> id) && ParseNumber(id, 0xFFFFFFFFull, deviceId)) {
        std::lock_guard<std::mutex> lock(mRouterLock);
        return "notified " + std::to_string(mRouter.NotifySettingsChanged(static_cast<std::uint32_t>(deviceId), mDirect)) +
               "\n";
    }
    return "error: unknown request\n";
}

void RelayServer::DirectSink::Send(const Endpoint& to, const unsigned char* data, std::size_t length, OutKind kind)
{
    const sockaddr_in address = to.ToSocketAddress();
    for (int fd : mServer.mTrunkSockets) {
        if (fd < 0)
            continue;
        if (::sendto(fd, data, length, 0, reinterpret_cast<const sockaddr*>(&address), sizeof address) ==
            static_cast<ssize_t>(length)) {
            Bump(counters.datagramsOut[static_cast<std::size_t>(kind)]);
            Bump(counters.bytesOut[static_cast<std::size_t>(kind)], length);
        } else {
            Bump(counters.sendErrors);
        }
        return;
    }
}

} // namespace Relay
