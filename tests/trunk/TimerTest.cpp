// The millisecond clock, timeval arithmetic and polled timers.
#include "FakeClock.h"
#include "Timer/timer_hal.h"
#include "halvane2.h"

#include <gtest/gtest.h>

namespace {

timeval Tv(long seconds, long microseconds)
{
    timeval t{};
    t.tv_sec = seconds;
    t.tv_usec = microseconds;
    return t;
}

struct SubtractCase
{
    timeval x, y;
    long seconds, microseconds;
    int xEarlier;
};

TEST(TimevalSubtract, GivesTheMagnitudeAndWhetherXIsEarlier)
{
    const SubtractCase cases[] = {
        {Tv(5, 100), Tv(3, 200), 1, 999900, 0},
        {Tv(3, 200), Tv(5, 100), 1, 999900, 1},
        {Tv(4, 100), Tv(4, 700), 0, 600, 1},
        {Tv(4, 700), Tv(4, 100), 0, 600, 0},
        {Tv(4, 500), Tv(4, 500), 0, 0, 0},
        {Tv(0, 2500000), Tv(1, 0), 1, 500000, 0}, // microseconds beyond one second are carried
    };
    for (const SubtractCase& c : cases) {
        timeval result{};
        EXPECT_EQ(timeval_subtract(&result, c.x, c.y), c.xEarlier);
        EXPECT_EQ(result.tv_sec, c.seconds);
        EXPECT_EQ(result.tv_usec, c.microseconds);
    }
}

TEST(MillisecondClock, CountsFromTheBaseAndTakesTheMagnitudeWhenTimeGoesBack)
{
    bool backwards = false;
    EXPECT_EQ(Halvane::Time::MillisecondsBetween(Tv(100, 0), Tv(102, 345999), backwards), 2345u);
    EXPECT_FALSE(backwards);
    EXPECT_EQ(Halvane::Time::MillisecondsBetween(Tv(100, 0), Tv(97, 0), backwards), 3000u);
    EXPECT_TRUE(backwards);
}

TEST(MillisecondClock, RealClockStartsNearZeroAndAdvances)
{
    const unsigned int first = get_current_time();
    polled_timer_t::sleep(20);
    const unsigned int later = get_current_time();
    EXPECT_GE(later - first, 20u);
    EXPECT_LT(later - first, 2000u);
    EXPECT_EQ(get_ticks_per_second(), 1000u);
}

TEST(PolledTimer, NewTimerIsExpiredAndAStartedOneExpiresOnceItsLengthHasPassed)
{
    rvx::test::FakeClock clock(5000);
    polled_timer_t timer;
    EXPECT_TRUE(timer.is_expired());

    timer.start_timer(100);
    EXPECT_FALSE(timer.is_expired());
    clock.Advance(99);
    EXPECT_FALSE(timer.is_expired());
    clock.Advance(1);
    EXPECT_TRUE(timer.is_expired());
    clock.Set(0); // latched: stays expired without a restart
    EXPECT_TRUE(timer.is_expired());
}

TEST(PolledTimer, RestartAtLastExpirationKeepsThePhase)
{
    rvx::test::FakeClock clock(1000);
    polled_timer_t timer(25000);
    timer.start_timer();
    clock.Set(30000);
    ASSERT_TRUE(timer.is_expired());
    timer.restart_at_last_expiration_time();
    EXPECT_EQ(timer.get_time_since_started(), 4000u); // started at 26000
    clock.Set(50999);
    EXPECT_FALSE(timer.is_expired());
    clock.Set(51000);
    EXPECT_TRUE(timer.is_expired());
}

TEST(PolledTimer, ExpiresCorrectlyAcrossTheWrapOfTheMillisecondCount)
{
    rvx::test::FakeClock clock(0xFFFFFF00u);
    polled_timer_t timer;
    timer.start_timer(0x200);
    clock.Set(0x000000FFu); // wrapped, 0x1FF after the start
    EXPECT_FALSE(timer.is_expired());
    clock.Set(0x00000100u);
    EXPECT_TRUE(timer.is_expired());
}

TEST(PolledTimer, ForcedAndReinitialisedTimersAreExpired)
{
    rvx::test::FakeClock clock(10);
    polled_timer_t timer(1000);
    timer.start_timer();
    timer.force_to_expire_now();
    EXPECT_TRUE(timer.is_expired());
    timer.start_timer();
    timer.init(5);
    EXPECT_TRUE(timer.is_expired());
}

} // namespace
