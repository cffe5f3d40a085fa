#pragma once

#include "recording/Clock.h"

#include <condition_variable>
#include <mutex>
#include <vector>

namespace tarvio::testing {

// A clock that moves only when the test says so. `advance` wakes the timers
// whose deadline has come and returns once each has run and gone back to
// sleep, so a test steps through ticks without sleeping.
class TestClock final : public Clock {
public:
    TestClock();

    WallTime wallNow() override;
    SteadyTime steadyNow() override;
    bool sleepUntil(SteadyTime deadline, std::stop_token stop) override;

    // Moves both clocks on. `timers` is how many timers are expected asleep
    // before and after. False (and a test failure) when they do not settle.
    bool advance(std::chrono::milliseconds step, size_t timers = 1);
    // Advances in 100 ms steps.
    bool advanceTicks(int ticks);
    // Sets the wall clock alone forward or back, as a user or a sleeping
    // machine does.
    void stepWall(std::chrono::milliseconds step);

private:
    bool settled(size_t timers) const;
    bool waitSettled(std::unique_lock<std::mutex>& guard, size_t timers);

    std::mutex mutex;
    std::condition_variable_any changed;
    WallTime wall;
    SteadyTime steady;
    std::vector<SteadyTime> sleepers;
};

}
