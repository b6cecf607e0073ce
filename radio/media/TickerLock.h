// Holds a media ticker's lock for the life of the object, so that a change
// made from another thread to a session or filter the ticker runs never
// meets the ticker's own use of it. The ticker holds this lock while it runs
// its graphs; on the ticker's own thread (inside a graph's pass) it is held
// already and is not taken again. No ticker: nothing runs the graph.
#pragma once

#include <mediastreamer2/msticker.h>
#include <pthread.h>

class TickerLock
{
public:
    explicit TickerLock(MSTicker* ticker)
        : ticker_(ticker != nullptr && pthread_equal(pthread_self(), ticker->thread) == 0 ? ticker : nullptr)
    {
        if (ticker_ != nullptr)
            ms_mutex_lock(&ticker_->lock);
    }
    ~TickerLock()
    {
        if (ticker_ != nullptr)
            ms_mutex_unlock(&ticker_->lock);
    }
    TickerLock(const TickerLock&) = delete;
    TickerLock& operator=(const TickerLock&) = delete;

private:
    MSTicker* const ticker_;
};
