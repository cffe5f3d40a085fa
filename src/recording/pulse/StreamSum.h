#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace tarvio::pulse {

// Sums several capture streams of one interleaved layout into one stream.
// Frames go out as soon as every live stream has delivered them; a stream
// that falls more than `maxLagFrames` behind (a paused player sends nothing)
// counts as silent until it delivers again, so it never holds the others up.
class StreamSum {
public:
    StreamSum(uint32_t channels, size_t maxLagFrames) : channels(channels), maxLag(maxLagFrames) {}

    // A new stream is waited for from its first delivery on.
    void add(uint32_t stream);
    // Its frames not yet summed are dropped.
    void remove(uint32_t stream);
    bool has(uint32_t stream) const { return streams.count(stream) > 0; }
    size_t size() const { return streams.size(); }

    // Appends the frames of one stream; returns the summed frames now ready
    // (interleaved, possibly none). Frames of unknown streams are ignored.
    std::vector<float> push(uint32_t stream, const float* frames, size_t frameCount);

private:
    struct Pending {
        std::vector<float> samples;
        bool silent = true;
    };

    std::vector<float> take(size_t frames);

    uint32_t channels;
    size_t maxLag;
    std::map<uint32_t, Pending> streams;
};

}
