// One worker's copies waiting to be sent, queued per sender and served in
// turns (deficit round robin): each sender with waiting copies gets up to a
// quantum of sends per turn, so a datagram for a small group is sent at
// once even while a sender to a huge group has thousands of copies waiting,
// and one sender's copies always leave in the order its datagrams came.
// The backlog is bounded per sender and in all; a sender with nothing
// waiting is let in up to a higher bound, so a flooding sender cannot lock
// others out.
#pragma once

#include "Clock.h"
#include "Endpoint.h"
#include "RelayRouter.h"

#include <cstddef>
#include <deque>
#include <memory>
#include <unordered_map>
#include <vector>

namespace Relay {

struct QueueLimits
{
    std::size_t quantum = 256;             // sends per sender per turn
    std::size_t senderBacklog = 65536;     // copies one sender may have waiting
    std::size_t backlog = 262144;          // copies waiting in all
    std::size_t newSenderBacklog = 1048576; // ... when the sender has none waiting
};

// One copy to send; data stays valid until the next Release().
struct PendingSend
{
    Endpoint to;
    const unsigned char* data;
    std::size_t length;
    OutKind kind;
};

class ForwardQueue : public DatagramSink
{
public:
    explicit ForwardQueue(const QueueLimits& limits = QueueLimits());

    bool Accepting(const Endpoint& from, std::size_t copies) const override;
    bool Forward(const Endpoint& from, const unsigned char* data, std::size_t length,
                 const std::vector<Endpoint>& targets, Clock::time_point received) override;
    void Send(const Endpoint& to, const unsigned char* data, std::size_t length, OutKind kind) override;

    // Appends up to `budget` copies in fair order.
    void Take(std::size_t budget, std::vector<PendingSend>& out);
    // Recycles the datagrams whose last copy was taken, telling `finished`
    // when each was received.
    template <typename Finished>
    void Release(Finished finished)
    {
        for (std::unique_ptr<Job>& job : mFinished) {
            if (job->kind == OutKind::kGroupMessage)
                finished(job->received);
            Recycle(std::move(job));
        }
        mFinished.clear();
    }

    bool Empty() const { return mBacklog == 0; }
    std::size_t Backlog() const { return mBacklog; }

private:
    struct Job
    {
        std::vector<unsigned char> bytes;
        std::vector<Endpoint> targets;
        std::size_t next = 0;
        Clock::time_point received{};
        OutKind kind = OutKind::kGroupMessage;
    };
    struct Flow
    {
        Endpoint key;
        std::deque<std::unique_ptr<Job>> jobs;
        std::size_t backlog = 0;
    };

    bool Admit(const Endpoint& flowKey, std::size_t copies) const;
    std::unique_ptr<Job> NewJob(const unsigned char* data, std::size_t length, Clock::time_point received,
                                OutKind kind);
    void Enqueue(const Endpoint& flowKey, std::unique_ptr<Job> job);
    void Recycle(std::unique_ptr<Job> job);

    QueueLimits mLimits;
    std::unordered_map<Endpoint, Flow, EndpointHasher> mFlows;
    std::deque<Flow*> mTurns; // senders with copies waiting, next first
    std::vector<std::unique_ptr<Job>> mSpare;    // recycled, with their buffers
    std::vector<std::unique_ptr<Job>> mFinished; // every copy taken, not yet sent
    std::size_t mBacklog = 0;
};

} // namespace Relay
