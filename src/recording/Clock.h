#pragma once

#include <chrono>
#include <memory>
#include <stop_token>

namespace tarvio {

// Time as a recording sees it: the wall clock paces the file, the steady
// clock paces the mix timer. Tests substitute a clock they step by hand.
class Clock {
public:
    using WallTime = std::chrono::system_clock::time_point;
    using SteadyTime = std::chrono::steady_clock::time_point;

    virtual ~Clock() = default;

    virtual WallTime wallNow() = 0;
    virtual SteadyTime steadyNow() = 0;
    // Blocks until the steady clock reaches `deadline`; false when `stop` was
    // requested first.
    virtual bool sleepUntil(SteadyTime deadline, std::stop_token stop) = 0;
};

// The machine's clocks.
std::shared_ptr<Clock> systemClock();

}
