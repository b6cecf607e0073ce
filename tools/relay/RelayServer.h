// The running relay: one trunk socket per worker thread on the same port,
// the control socket and the metrics endpoint, each served by its own
// thread, and the main thread waiting for signals and sweeping the table
// once a second. The router's state is shared under one lock that workers
// hold only while routing a batch in memory, never while sending.
#pragma once

#include "ControlServer.h"
#include "MetricsServer.h"
#include "RelayOptions.h"
#include "RelayRouter.h"
#include "TrunkWorker.h"

#include <array>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace Relay {

class RelayServer
{
public:
    // Starts a thread running body; false when the system would not.
    using ThreadStarter = std::function<bool(std::function<void()> body, std::thread& thread)>;
    static bool StartThread(std::function<void()> body, std::thread& thread);

    explicit RelayServer(const RelayOptions& options, ThreadStarter starter = StartThread,
                         const WorkerTuning& tuning = WorkerTuning());
    ~RelayServer();
    RelayServer(const RelayServer&) = delete;
    RelayServer& operator=(const RelayServer&) = delete;

    // Opens and binds the sockets; false with the reason.
    bool Open(std::string& error);
    // Starts the threads. A worker that cannot start is logged and its
    // socket closed, so the kernel stops handing it datagrams; false only
    // when no worker, or the control or metrics thread, could start.
    bool Start(std::string& error);
    // Serves signals until SIGINT, SIGTERM or a stop request; prints the
    // counters on SIGUSR1 and at the end. The stop signals must be blocked
    // in every thread (BlockStopSignals before Start).
    void Run(std::ostream& out);
    void RequestStop();
    // Stops and joins every thread; the control socket's file goes.
    void Shutdown();
    static void BlockStopSignals();

    unsigned short TrunkPort() const { return mTrunkPort; }
    unsigned short MetricsPort() const { return mMetricsPort; }
    const std::string& ControlPath() const { return mControlPath; }
    std::size_t Workers() const { return mWorkers.size(); }

    RelayStats Stats() const;
    // Group message copies sent so far, without taking the router's lock.
    std::uint64_t CopiesSent() const;
    // A control request's reply.
    std::string Execute(const std::string& request);
    // Forgets silent subscribers and logs refusals at a bounded rate.
    void Housekeeping(Clock::time_point now);

private:
    // Sends the control thread's notices at once on a trunk socket.
    class DirectSink : public DatagramSink
    {
    public:
        explicit DirectSink(const RelayServer& server) : mServer(server) {}
        bool Accepting(const Endpoint&, std::size_t) const override { return true; }
        bool Forward(const Endpoint&, const unsigned char*, std::size_t, const std::vector<Endpoint>&,
                     Clock::time_point) override
        {
            return false;
        }
        void Send(const Endpoint& to, const unsigned char* data, std::size_t length, OutKind kind) override;
        SendCounters counters;

    private:
        const RelayServer& mServer;
    };

    bool OpenTrunkSockets(std::string& error);
    void LogRefusals(Clock::time_point now);

    RelayOptions mOptions;
    ThreadStarter mStarter;
    WorkerTuning mTuning;
    RelayRouter mRouter;
    mutable std::mutex mRouterLock;
    DirectSink mDirect{*this};

    int mStopEvent = -1;
    std::vector<int> mTrunkSockets;
    unsigned short mTrunkPort = 0;
    std::string mControlPath;
    ino_t mControlInode = 0;
    int mControlSocket = -1;
    int mMetricsSocket = -1;
    unsigned short mMetricsPort = 0;

    std::vector<std::unique_ptr<TrunkWorker>> mWorkers;
    std::vector<std::thread> mThreads;
    std::unique_ptr<ControlServer> mControl;
    std::unique_ptr<MetricsServer> mMetrics;
    bool mShutDown = false;

    std::array<std::uint64_t, kRefusals> mLoggedRefusals{};
    Clock::time_point mLastRefusalLog{};
};

// The version --version prints.
std::string RelayVersion();

} // namespace Relay
