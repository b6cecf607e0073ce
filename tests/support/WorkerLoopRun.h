// Runs a worker object's endless loop slot on a thread of its own for the
// life of this object; at the end asks the worker to stop and waits for it.
#pragma once

#include <QThread>

namespace rvx::test {

template <class Worker>
class WorkerLoopRun
{
public:
    WorkerLoopRun(Worker& worker, void (Worker::*loop)()) : worker_(worker)
    {
        thread_ = QThread::create([this, loop] { (worker_.*loop)(); });
        thread_->start();
    }
    ~WorkerLoopRun()
    {
        worker_.requestStop();
        thread_->wait(10000);
        delete thread_;
    }
    WorkerLoopRun(const WorkerLoopRun&) = delete;
    WorkerLoopRun& operator=(const WorkerLoopRun&) = delete;

private:
    Worker& worker_;
    QThread* thread_;
};

} // namespace rvx::test
