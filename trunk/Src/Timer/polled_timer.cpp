// polled_timer_t: a time-out that its owner polls; nothing services it.
#include "halvane2.h"

#include <cerrno>
#include <cstdint>
#include <ctime>

polled_timer_t::polled_timer_t() : polled_timer_t(0) {}

polled_timer_t::polled_timer_t(unsigned int length) : start_(0), length_(length), expired_(true) {}

polled_timer_t::~polled_timer_t() = default;

void polled_timer_t::init(unsigned int length)
{
    start_ = 0;
    length_ = length;
    expired_ = true;
}

void polled_timer_t::start_timer()
{
    start_ = get_current_time();
    expired_ = false;
}

void polled_timer_t::start_timer(unsigned int length)
{
    length_ = length;
    start_timer();
}

void polled_timer_t::restart_at_last_expiration_time()
{
    start_ += length_;
    expired_ = false;
}

void polled_timer_t::set_length(unsigned int length)
{
    length_ = length;
}

unsigned int polled_timer_t::get_time_since_started() const
{
    return get_current_time() - start_;
}

bool polled_timer_t::is_expired()
{
    if (expired_)
        return true;
    // Read as signed so the comparison stays right across the wrap of the
    // 32-bit millisecond count.
    const auto overdue = static_cast<std::int32_t>(get_current_time() - start_ - length_);
    if (overdue >= 0)
        expired_ = true;
    return expired_;
}

void polled_timer_t::force_to_expire_now()
{
    expired_ = true;
}

void polled_timer_t::sleep(unsigned int milliseconds)
{
    timespec remaining{static_cast<time_t>(milliseconds / 1000),
                       static_cast<long>(milliseconds % 1000) * 1000000L};
    // Sleeps the whole time even when a signal interrupts it.
    while (nanosleep(&remaining, &remaining) == -1 && errno == EINTR) {
    }
}
