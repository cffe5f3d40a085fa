#include "recording/pulse/ReopeningCapture.h"

#include <chrono>
#include <pthread.h>

namespace tarvio::pulse {

void ReopeningCapture::start()
{
    auto first = opener([this] { markLost(); }, cancel);
    std::lock_guard guard(mutex);
    current = std::move(first);
    watcher = std::thread([this] { watch(); });
}

void ReopeningCapture::stop()
{
    {
        std::lock_guard guard(mutex);
        stopping = true;
        cancel = true;
    }
    wake.notify_all();
    if (watcher.joinable())
        watcher.join();
    std::unique_ptr<OpenCapture> last;
    {
        std::lock_guard guard(mutex);
        last = std::move(current);
    }
}

void ReopeningCapture::markLost()
{
    {
        std::lock_guard guard(mutex);
        lost = true;
        lostNow = true;
    }
    wake.notify_all();
}

void ReopeningCapture::watch()
{
    constexpr auto retryInterval = std::chrono::seconds(1);
    pthread_setname_np(pthread_self(), "tarvio.reopen");
    std::unique_lock guard(mutex);
    while (true) {
        wake.wait(guard, [&] { return lost || stopping; });
        if (stopping)
            return;
        // Detach outside the lock: the capture's event thread may be
        // reporting its loss right now.
        std::unique_ptr<OpenCapture> broken = std::move(current);
        lost = false;
        guard.unlock();
        broken.reset();
        guard.lock();
        // At once first (a new default device), then once a second.
        for (bool first = true; !current; first = false) {
            if (!first && wake.wait_for(guard, retryInterval, [&] { return stopping; }))
                return;
            if (stopping)
                return;
            lost = false;
            guard.unlock();
            std::unique_ptr<OpenCapture> reopened;
            try {
                reopened = opener([this] { markLost(); }, cancel);
            } catch (...) {
                // Still no server or device; try again later.
            }
            guard.lock();
            current = std::move(reopened);
        }
        // A capture that broke again while it opened is reported by its own
        // callback, which set `lost` once more.
        if (!lost)
            lostNow = false;
    }
}

}
