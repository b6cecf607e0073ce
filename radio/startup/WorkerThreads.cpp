// Starting the worker threads and stopping them all at exit.
#include "WorkerThreads.h"

#include "debug_log.h"

#include <QDeadlineTimer>
#include <QObject>

#include <mutex>
#include <vector>

namespace WorkerThreads {
namespace {

struct Worker
{
    QThread* thread;
    std::function<void()> requestStop;
};

std::mutex& workersMutex()
{
    static std::mutex* const mutex = new std::mutex;
    return *mutex;
}

// Never destroyed: the threads are not either.
std::vector<Worker>& workers()
{
    static std::vector<Worker>* const list = new std::vector<Worker>;
    return *list;
}

} // namespace

void start(QObject* worker, const char* loopSlot, QThread::Priority priority, std::function<void()> requestStop)
{
    auto* thread = new QThread;
    worker->moveToThread(thread);
    {
        std::lock_guard<std::mutex> lock(workersMutex());
        workers().push_back(Worker{thread, std::move(requestStop)});
    }
    thread->start(priority);
    QMetaObject::invokeMethod(worker, loopSlot, Qt::QueuedConnection);
}

bool stopAll(std::chrono::milliseconds limit)
{
    std::vector<Worker> running;
    {
        std::lock_guard<std::mutex> lock(workersMutex());
        running = workers();
    }
    for (const Worker& worker : running) {
        if (worker.requestStop)
            worker.requestStop();
        worker.thread->quit();
    }
    const QDeadlineTimer deadline(limit.count());
    int stillRunning = 0;
    for (const Worker& worker : running)
        stillRunning += worker.thread->wait(deadline) ? 0 : 1;
    if (stillRunning > 0)
        debug_log_printf_always("%d worker thread(s) still busy at exit\n", stillRunning);
    else
        debug_log_printf("DEBUG_STARTUP", "All %zu worker threads stopped\n", running.size());
    return stillRunning == 0;
}

} // namespace WorkerThreads
