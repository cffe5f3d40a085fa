#pragma once

#include "recording/SampleQueue.h"

#include <array>
#include <cstdint>
#include <mutex>
#include <span>
#include <vector>

namespace tarvio {

// Sums the blocks two sources deliver (16 kHz mono float) into 16-bit
// samples, as many as the caller asks for, filling shortfalls with silence,
// and keeps one live level per source. Source 0 is system sound, 1 the
// microphone. Thread-safe: sources push from their capture threads while the
// recording pulls.
class Mixer {
public:
    static constexpr int sourceCount = 2;
    static constexpr size_t maxBacklog = 32000; // kept after a push: 2 s
    static constexpr size_t activeBacklog = 8000; // kept after a pull: 0.5 s

    // With `primeSamples` above 0, the first block of a source whose queue
    // ran dry (at start, after a pause, after its device came back) is
    // preceded by enough silence to hold that many samples: capture arrives
    // in blocks (about 85 ms for a microphone) that do not line up with the
    // pulls, and without a cushion every pull would end in a few
    // milliseconds of silence.
    explicit Mixer(size_t primeSamples = 0) : primeSamples(primeSamples) {}

    void push(int source, std::span<const float> samples);
    // `count` samples; empty when `count` is below 1.
    std::vector<int16_t> pull(int64_t count, std::array<bool, sourceCount> active);

    std::array<float, sourceCount> levels() const;
    // Drops whatever the sources have delivered but not yet been pulled.
    void clearQueues();

private:
    mutable std::mutex lock;
    std::array<SampleQueue, sourceCount> buffers;
    std::array<float, sourceCount> sourceLevels{0.0f, 0.0f};
    const size_t primeSamples;
    std::array<bool, sourceCount> primed{false, false};
};

}
