#pragma once

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace tarvio::pulse {

// A capture attached to the server; destroying it detaches it and ends its
// callbacks.
class OpenCapture {
public:
    virtual ~OpenCapture() = default;
};

// Keeps one capture open for the life of a source: when the server goes away
// (it died, restarted, or the device vanished) the capture is dropped and
// reopened about once a second until it works again, on a thread of its own,
// so the recording goes on with silence meanwhile.
class ReopeningCapture {
public:
    // Opens a capture that calls `lost` on its event thread when it breaks;
    // throws HelperError. `cancel` is set when the source stops.
    using Opener = std::function<std::unique_ptr<OpenCapture>(std::function<void()> lost, const std::atomic<bool>& cancel)>;

    explicit ReopeningCapture(Opener opener) : opener(std::move(opener)) {}
    ~ReopeningCapture() { stop(); }

    ReopeningCapture(const ReopeningCapture&) = delete;
    ReopeningCapture& operator=(const ReopeningCapture&) = delete;

    // Opens the first capture on the calling thread; its error passes through.
    void start();
    // Idempotent; returns once no callback of any capture can run.
    void stop();
    // From the loss of a capture until another one is open. Any thread.
    bool isLost() const { return lostNow.load(); }

private:
    void watch();
    void markLost();

    Opener opener;
    std::mutex mutex;
    std::condition_variable wake;
    bool lost = false;
    bool stopping = false;
    std::atomic<bool> cancel {false};
    std::atomic<bool> lostNow {false};
    std::unique_ptr<OpenCapture> current;
    std::thread watcher;
};

}
