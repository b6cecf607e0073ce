// One forwarding thread: reads a batch of datagrams from its own socket on
// the trunk port (recvmmsg), routes them under the router's lock into its
// queue of copies, and sends a bounded number of copies per pass
// (sendmmsg), so that each pass is short and a stop request or a control
// request never waits behind a huge fan-out. Several workers share the
// port through SO_REUSEPORT: the kernel gives each sender's datagrams to
// one socket, so each sender's order is kept.
#pragma once

#include "ForwardQueue.h"
#include "RelayCounters.h"
#include "RelayRouter.h"

#include <array>
#include <atomic>
#include <mutex>
#include <netinet/in.h>
#include <sys/socket.h>
#include <vector>

namespace Relay {

struct WorkerTuning
{
    std::size_t receiveBatch = 64;     // datagrams per receive call
    std::size_t receiveCallsPerPass = 64; // reading is cheap: keep the socket drained
    std::size_t sendsPerPass = 1024;
    QueueLimits queue;
};

class TrunkWorker
{
public:
    // The worker owns neither the socket nor the stop descriptor (an
    // eventfd that becomes readable on stop).
    TrunkWorker(int socket, RelayRouter& router, std::mutex& routerLock, int stopEvent,
                const WorkerTuning& tuning = WorkerTuning());
    TrunkWorker(const TrunkWorker&) = delete;
    TrunkWorker& operator=(const TrunkWorker&) = delete;

    // Serves until the stop descriptor becomes readable.
    void Run();
    // One pass: read what waits (without blocking) and send one round.
    void Pass();

    const SendCounters& Counters() const { return mCounters; }
    std::size_t Backlog() const { return mQueue.Backlog(); }

private:
    static constexpr std::size_t kBufferSize = 2048; // more than the largest trunk datagram

    bool WaitForWork();
    void Receive();
    // False when the socket had less than a full batch waiting.
    bool ReceiveBatch();
    void SendRound();
    std::size_t SendChunk(std::size_t first, std::size_t count);

    int mSocket;
    RelayRouter& mRouter;
    std::mutex& mRouterLock;
    int mStopEvent;
    WorkerTuning mTuning;
    ForwardQueue mQueue;
    SendCounters mCounters;

    std::vector<std::array<unsigned char, kBufferSize>> mBuffers;
    std::vector<sockaddr_in> mSources;
    std::vector<iovec> mReceiveVectors;
    std::vector<mmsghdr> mReceiveHeaders;

    std::vector<PendingSend> mSends;
    std::vector<sockaddr_in> mDestinations;
    std::vector<iovec> mSendVectors;
    std::vector<mmsghdr> mSendHeaders;
};

} // namespace Relay
