// The program's worker threads: each worker object runs its loop slot on a
// thread of its own, and at exit every loop is asked to stop and waited for,
// so that nothing a worker uses is torn down under it.
#pragma once

#include <QThread>

#include <chrono>
#include <functional>

class QObject;

namespace WorkerThreads {

// Moves the worker to a new thread, starts it and invokes its loop slot
// there. requestStop makes the loop return (soon); it is called at exit.
void start(QObject* worker, const char* loopSlot, QThread::Priority priority, std::function<void()> requestStop);

// Asks every loop to stop and waits for the threads to end, in all at most
// the limit (a loop may be inside a network request). True when every
// thread ended.
bool stopAll(std::chrono::milliseconds limit);

} // namespace WorkerThreads
