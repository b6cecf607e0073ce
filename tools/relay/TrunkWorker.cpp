// A forwarding thread's passes.
#include "TrunkWorker.h"

#include "Packet/Packet.h"

#include <cerrno>
#include <climits>
#include <poll.h>

namespace Relay {

TrunkWorker::TrunkWorker(int socket, RelayRouter& router, std::mutex& routerLock, int stopEvent,
                         const WorkerTuning& tuning)
    : mSocket(socket), mRouter(router), mRouterLock(routerLock), mStopEvent(stopEvent), mTuning(tuning),
      mQueue(tuning.queue), mBuffers(tuning.receiveBatch), mSources(tuning.receiveBatch),
      mReceiveVectors(tuning.receiveBatch), mReceiveHeaders(tuning.receiveBatch)
{
    for (std::size_t i = 0; i < tuning.receiveBatch; ++i) {
        mReceiveVectors[i] = {mBuffers[i].data(), kBufferSize};
        mReceiveHeaders[i] = {};
        mReceiveHeaders[i].msg_hdr.msg_iov = &mReceiveVectors[i];
        mReceiveHeaders[i].msg_hdr.msg_iovlen = 1;
        mReceiveHeaders[i].msg_hdr.msg_name = &mSources[i];
    }
}

void TrunkWorker::Run()
{
    while (WaitForWork())
        Pass();
}

bool TrunkWorker::WaitForWork()
{
    pollfd waiting[2] = {{mSocket, POLLIN, 0}, {mStopEvent, POLLIN, 0}};
    // With copies queued there is work without waiting; only look for stop.
    const int timeout = mQueue.Empty() ? -1 : 0;
    if (::poll(waiting, 2, timeout) < 0 && errno != EINTR)
        return false;
    return !(waiting[1].revents & POLLIN);
}

void TrunkWorker::Pass()
{
    Receive();
    SendRound();
}

void TrunkWorker::Receive()
{
    // Datagrams left in the socket's buffer are dropped by the kernel without
    // regard to their sender once it is full; read them, so that the router
    // refuses a flooding sender's rather than the kernel an honest one's.
    for (std::size_t call = 0; call < mTuning.receiveCallsPerPass && ReceiveBatch(); ++call) {
    }
}

bool TrunkWorker::ReceiveBatch()
{
    for (std::size_t i = 0; i < mTuning.receiveBatch; ++i)
        mReceiveHeaders[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
    const int received = ::recvmmsg(mSocket, mReceiveHeaders.data(), static_cast<unsigned int>(mTuning.receiveBatch),
                                    MSG_DONTWAIT, nullptr);
    Bump(mCounters.receiveCalls);
    if (received <= 0)
        return false;
    const Clock::time_point now = Clock::now();
    std::lock_guard<std::mutex> lock(mRouterLock);
    for (int i = 0; i < received; ++i) {
        const mmsghdr& message = mReceiveHeaders[static_cast<std::size_t>(i)];
        // A datagram cut short by the buffer was larger than any trunk
        // datagram: hand on a length the router refuses.
        const std::size_t length = (message.msg_hdr.msg_flags & MSG_TRUNC) ? kBufferSize + 1 : message.msg_len;
        mRouter.HandleDatagram(Endpoint::From(mSources[static_cast<std::size_t>(i)]),
                               mBuffers[static_cast<std::size_t>(i)].data(), length, now, mQueue);
    }
    return static_cast<std::size_t>(received) == mTuning.receiveBatch;
}

void TrunkWorker::SendRound()
{
    mSends.clear();
    mQueue.Take(mTuning.sendsPerPass, mSends);
    // sendmmsg takes at most UIO_MAXIOV messages a call.
    constexpr std::size_t kMaxPerCall = 1024;
    for (std::size_t first = 0; first < mSends.size();)
        first += SendChunk(first, std::min(kMaxPerCall, mSends.size() - first));
    const Clock::time_point now = Clock::now();
    mQueue.Release([&](Clock::time_point received) { mCounters.latency.Observe(now - received); });
}

std::size_t TrunkWorker::SendChunk(std::size_t first, std::size_t count)
{
    mDestinations.resize(count);
    mSendVectors.resize(count);
    mSendHeaders.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
        const PendingSend& send = mSends[first + i];
        mDestinations[i] = send.to.ToSocketAddress();
        mSendVectors[i] = {const_cast<unsigned char*>(send.data), send.length};
        mSendHeaders[i] = {};
        mSendHeaders[i].msg_hdr.msg_name = &mDestinations[i];
        mSendHeaders[i].msg_hdr.msg_namelen = sizeof(sockaddr_in);
        mSendHeaders[i].msg_hdr.msg_iov = &mSendVectors[i];
        mSendHeaders[i].msg_hdr.msg_iovlen = 1;
    }
    std::size_t done = 0;
    int retries = 0;
    while (done < count) {
        const int sent = ::sendmmsg(mSocket, mSendHeaders.data() + done, static_cast<unsigned int>(count - done), 0);
        Bump(mCounters.sendCalls);
        if (sent > 0) {
            for (std::size_t i = done; i < done + static_cast<std::size_t>(sent); ++i) {
                const auto kind = static_cast<std::size_t>(mSends[first + i].kind);
                Bump(mCounters.datagramsOut[kind]);
                Bump(mCounters.bytesOut[kind], mSends[first + i].length);
            }
            done += static_cast<std::size_t>(sent);
            continue;
        }
        // A full send buffer is worth a short wait; anything else refuses
        // this one copy (an unreachable address, say), not the rest.
        if ((errno == EAGAIN || errno == ENOBUFS) && retries++ < 3) {
            pollfd writable{mSocket, POLLOUT, 0};
            ::poll(&writable, 1, 5);
            continue;
        }
        Bump(mCounters.sendErrors);
        ++done;
    }
    return count;
}

} // namespace Relay
