#pragma once

#include <pulse/pulseaudio.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvio::pulse {

struct ServerDefaults {
    std::string sink;
    std::string source;
};

struct SourceDetails {
    pa_sample_spec spec {};
    pa_channel_map map {};
    bool isMonitor = false;
};

struct SinkDetails {
    uint32_t index = PA_INVALID_INDEX;
    std::string monitorSource;
    pa_sample_spec spec {};
    pa_channel_map map {};
};

struct SinkInput {
    uint32_t index = PA_INVALID_INDEX;
    uint32_t sink = PA_INVALID_INDEX;
    uint32_t client = PA_INVALID_INDEX;
    std::optional<int32_t> processId;
};

SinkInput sinkInputOf(const pa_sink_input_info& info);

// One client connection to the audio server with its own event thread. Every
// callback of the connection runs on that thread, with the loop's lock held.
class PulseConnection {
public:
    // Called once, on the event thread, when the connection to the server breaks.
    using LostCallback = std::function<void()>;

    // None when no server answers in time or `cancel` is set meanwhile.
    // `threadName` names the event thread (15 characters at most).
    static std::unique_ptr<PulseConnection> open(const char* threadName, LostCallback onLost, const std::atomic<bool>* cancel);
    ~PulseConnection();

    PulseConnection(const PulseConnection&) = delete;
    PulseConnection& operator=(const PulseConnection&) = delete;

    pa_context* context() const { return ctx; }
    pa_threaded_mainloop* loop() const { return mainloop; }
    bool ready() const;
    // The server's last error as a negative status.
    int lastStatus() const;

    // Holds the loop's lock; never taken on the event thread.
    class Lock {
    public:
        explicit Lock(const PulseConnection& connection) : loop(connection.mainloop) { pa_threaded_mainloop_lock(loop); }
        ~Lock() { pa_threaded_mainloop_unlock(loop); }
        Lock(const Lock&) = delete;
        Lock& operator=(const Lock&) = delete;

    private:
        pa_threaded_mainloop* loop;
    };

    // With the lock held: waits until `done`, a broken connection, the time
    // limit or cancellation, and returns `done()`.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);
    // With the lock held: waits for the operation to complete and releases it;
    // false when it did not.
    bool finish(pa_operation* operation);

    // Queries, with the lock held; none when the server does not answer.
    std::optional<ServerDefaults> defaults();
    std::optional<SourceDetails> sourceNamed(const std::string& name);
    std::optional<SinkDetails> sinkNamed(const std::string& name);
    std::vector<SinkDetails> sinks();
    std::vector<SinkInput> sinkInputs();

    // Server calls must answer within this time, so a hung server cannot hold
    // the request loop for long.
    static constexpr std::chrono::milliseconds replyLimit {3000};

private:
    PulseConnection(LostCallback onLost, const std::atomic<bool>* cancel) : onLost(std::move(onLost)), cancel(cancel) {}
    static void contextChanged(pa_context* context, void* self);
    static void timerFired(pa_mainloop_api* api, pa_time_event* event, const struct timeval* when, void* self);

    pa_threaded_mainloop* mainloop = nullptr;
    pa_context* ctx = nullptr;
    LostCallback onLost;
    const std::atomic<bool>* cancel;
    bool lostReported = false;
    bool wasReady = false;
};

}
