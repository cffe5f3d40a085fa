#pragma once

#include "recording/pulse/PulseConnection.h"

#include <functional>
#include <string>
#include <vector>

namespace tarvio::pulse {

// One record stream of interleaved 32-bit float frames. All calls need the
// connection's lock (or the event thread); the callbacks run on the event thread.
class RecordStream {
public:
    // Interleaved frames, valid only during the call, in chunks of at least
    // the requested fragment.
    using DataCallback = std::function<void(const float* frames, size_t frameCount)>;
    // The stream failed or was ended by the server after it was ready.
    using EndCallback = std::function<void()>;

    struct Request {
        std::string name;
        std::string device;
        uint32_t rate = 0;
        uint8_t channels = 0;
        uint32_t fragmentFrames = 0;
        // Captures only this playback stream of the device (a sink's monitor).
        uint32_t onlySinkInput = PA_INVALID_INDEX;
    };

    RecordStream(PulseConnection& connection, DataCallback onData, EndCallback onEnd);
    ~RecordStream();

    RecordStream(const RecordStream&) = delete;
    RecordStream& operator=(const RecordStream&) = delete;

    // 0, or a negative status when the stream cannot be created or connected.
    int connect(const Request& request);
    // From the request thread, with the lock held: waits until the stream is
    // ready; 0, or the negative status of its failure.
    int waitReady();
    bool ended() const { return hasEnded; }
    // Disconnects; no callback runs afterwards.
    void close();

private:
    static void stateChanged(pa_stream* stream, void* self);
    static void readable(pa_stream* stream, size_t bytes, void* self);
    void gather(const float* frames, size_t frameCount);

    PulseConnection& connection;
    DataCallback onData;
    EndCallback onEnd;
    pa_stream* stream = nullptr;
    uint32_t frameBytes = 0;
    uint32_t channels = 0;
    size_t fragmentFrames = 0;
    // The server hands over smaller pieces than it is asked for.
    std::vector<float> gathered;
    bool wasReady = false;
    bool hasEnded = false;
};

}
