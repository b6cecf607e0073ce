// The per-sender queues and their turns.
#include "ForwardQueue.h"

#include <algorithm>

namespace Relay {

ForwardQueue::ForwardQueue(const QueueLimits& limits) : mLimits(limits) {}

bool ForwardQueue::Admit(const Endpoint& flowKey, std::size_t copies) const
{
    const auto flow = mFlows.find(flowKey);
    const std::size_t waiting = flow == mFlows.end() ? 0 : flow->second.backlog;
    if (waiting == 0)
        return mBacklog + copies <= mLimits.newSenderBacklog;
    return waiting + copies <= mLimits.senderBacklog && mBacklog + copies <= mLimits.backlog;
}

bool ForwardQueue::Accepting(const Endpoint& from, std::size_t copies) const
{
    return Admit(from, copies);
}

bool ForwardQueue::Forward(const Endpoint& from, const unsigned char* data, std::size_t length,
                           const std::vector<Endpoint>& targets, Clock::time_point received)
{
    if (!Admit(from, targets.size()))
        return false;
    std::unique_ptr<Job> job = NewJob(data, length, received, OutKind::kGroupMessage);
    job->targets.assign(targets.begin(), targets.end());
    Enqueue(from, std::move(job));
    return true;
}

void ForwardQueue::Send(const Endpoint& to, const unsigned char* data, std::size_t length, OutKind kind)
{
    // The relay's own datagrams are few (challenges are rate limited) and
    // never refused; they queue under their destination.
    std::unique_ptr<Job> job = NewJob(data, length, Clock::time_point{}, kind);
    job->targets.assign(1, to);
    Enqueue(to, std::move(job));
}

std::unique_ptr<ForwardQueue::Job> ForwardQueue::NewJob(const unsigned char* data, std::size_t length,
                                                        Clock::time_point received, OutKind kind)
{
    std::unique_ptr<Job> job;
    if (!mSpare.empty()) {
        job = std::move(mSpare.back());
        mSpare.pop_back();
    } else {
        job = std::make_unique<Job>();
    }
    job->bytes.assign(data, data + length);
    job->next = 0;
    job->received = received;
    job->kind = kind;
    return job;
}

void ForwardQueue::Enqueue(const Endpoint& flowKey, std::unique_ptr<Job> job)
{
    Flow& flow = mFlows[flowKey];
    if (flow.jobs.empty()) {
        flow.key = flowKey;
        mTurns.push_back(&flow);
    }
    flow.backlog += job->targets.size();
    mBacklog += job->targets.size();
    flow.jobs.push_back(std::move(job));
}

void ForwardQueue::Take(std::size_t budget, std::vector<PendingSend>& out)
{
    while (budget > 0 && !mTurns.empty()) {
        Flow* flow = mTurns.front();
        mTurns.pop_front();
        std::size_t credit = mLimits.quantum;
        while (credit > 0 && budget > 0 && !flow->jobs.empty()) {
            Job* job = flow->jobs.front().get();
            const std::size_t count = std::min({credit, budget, job->targets.size() - job->next});
            for (std::size_t i = 0; i < count; ++i)
                out.push_back({job->targets[job->next + i], job->bytes.data(), job->bytes.size(), job->kind});
            job->next += count;
            credit -= count;
            budget -= count;
            flow->backlog -= count;
            mBacklog -= count;
            if (job->next == job->targets.size()) {
                mFinished.push_back(std::move(flow->jobs.front()));
                flow->jobs.pop_front();
            }
        }
        if (flow->jobs.empty())
            mFlows.erase(flow->key);
        else
            mTurns.push_back(flow);
    }
}

void ForwardQueue::Recycle(std::unique_ptr<Job> job)
{
    // A bounded pool keeps the buffers of recent datagrams; the rest goes
    // back to the system.
    constexpr std::size_t kSpareJobs = 1024;
    if (mSpare.size() < kSpareJobs)
        mSpare.push_back(std::move(job));
}

} // namespace Relay
