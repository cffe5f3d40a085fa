#include "recording/Clock.h"

#include <condition_variable>
#include <mutex>

namespace tarvio {

namespace {

class SystemClock final : public Clock {
public:
    WallTime wallNow() override { return std::chrono::system_clock::now(); }
    SteadyTime steadyNow() override { return std::chrono::steady_clock::now(); }

    bool sleepUntil(SteadyTime deadline, std::stop_token stop) override
    {
        // Each sleeper waits on its own condition: nothing but a stop request
        // ever wakes it early.
        std::mutex mutex;
        std::condition_variable_any wake;
        std::unique_lock guard(mutex);
        wake.wait_until(guard, stop, deadline, [] { return false; });
        return !stop.stop_requested();
    }
};

}

std::shared_ptr<Clock> systemClock()
{
    static const std::shared_ptr<Clock> clock = std::make_shared<SystemClock>();
    return clock;
}

}
