#include "recording/TestClock.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace tarvio::testing {

TestClock::TestClock()
    : wall(std::chrono::sys_days{std::chrono::year{2026} / 11 / 15} + std::chrono::hours(10))
    , steady(std::chrono::hours(1000))
{
}

Clock::WallTime TestClock::wallNow()
{
    std::lock_guard guard(mutex);
    return wall;
}

Clock::SteadyTime TestClock::steadyNow()
{
    std::lock_guard guard(mutex);
    return steady;
}

bool TestClock::sleepUntil(SteadyTime deadline, std::stop_token stop)
{
    std::unique_lock guard(mutex);
    sleepers.push_back(deadline);
    changed.notify_all();
    bool reached = changed.wait(guard, stop, [&] { return steady >= deadline; });
    sleepers.erase(std::find(sleepers.begin(), sleepers.end(), deadline));
    changed.notify_all();
    return reached;
}

bool TestClock::settled(size_t timers) const
{
    return sleepers.size() >= timers
        && std::all_of(sleepers.begin(), sleepers.end(), [&](SteadyTime deadline) { return deadline > steady; });
}

bool TestClock::waitSettled(std::unique_lock<std::mutex>& guard, size_t timers)
{
    bool ok = changed.wait_for(guard, std::chrono::seconds(10), [&] { return settled(timers); });
    if (!ok)
        ADD_FAILURE() << "the timer did not go back to sleep";
    return ok;
}

bool TestClock::advance(std::chrono::milliseconds step, size_t timers)
{
    std::unique_lock guard(mutex);
    if (!waitSettled(guard, timers))
        return false;
    wall += step;
    steady += step;
    changed.notify_all();
    return waitSettled(guard, timers);
}

bool TestClock::advanceTicks(int ticks)
{
    for (int tick = 0; tick < ticks; ++tick)
        if (!advance(std::chrono::milliseconds(100)))
            return false;
    return true;
}

void TestClock::stepWall(std::chrono::milliseconds step)
{
    std::lock_guard guard(mutex);
    wall += step;
}

}
