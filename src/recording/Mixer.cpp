#include "recording/Mixer.h"

#include <algorithm>
#include <cmath>

namespace tarvio {

namespace {

int16_t toSample(float value)
{
    // NaN fails the first test and lands on full scale, like any overload.
    if (!(value < 1.0f))
        return 32767;
    return static_cast<int16_t>(std::max(value, -1.0f) * 32767.0f);
}

float nextLevel(float rms, float previous)
{
    float level = std::max(4.0f * rms, 0.6f * previous);
    // A NaN level would make the status unserialisable.
    if (std::isnan(level))
        return 1.0f;
    return std::min(1.0f, level);
}

}

void Mixer::push(int source, std::span<const float> samples)
{
    std::lock_guard guard(lock);
    SampleQueue& queue = buffers[static_cast<size_t>(source)];
    if (!primed[size_t(source)] && primeSamples > 0) {
        primed[size_t(source)] = true;
        size_t held = queue.size() + samples.size();
        if (held < primeSamples)
            queue.append(std::vector<float>(primeSamples - held, 0.0f));
    }
    queue.append(samples);
    queue.keepNewest(maxBacklog);
}

std::vector<int16_t> Mixer::pull(int64_t count, std::array<bool, sourceCount> active)
{
    if (count < 1)
        return {};
    const size_t wanted = static_cast<size_t>(count);
    std::vector<float> mix(wanted, 0.0f);
    std::lock_guard guard(lock);
    std::array<float, sourceCount> rms{0.0f, 0.0f};
    for (size_t source = 0; source < sourceCount; ++source) {
        SampleQueue& queue = buffers[source];
        size_t taken = std::min(wanted, queue.size());
        // Ran dry: the next block builds the cushion again.
        if (taken < wanted)
            primed[source] = false;
        if (taken > 0) {
            std::span<const float> samples = queue.front(taken);
            float sum = 0.0f;
            for (size_t index = 0; index < taken; ++index) {
                mix[index] += samples[index];
                sum += samples[index] * samples[index];
            }
            rms[source] = std::sqrt(sum / static_cast<float>(taken));
            queue.dropFront(taken);
        }
        if (active[source])
            queue.keepNewest(activeBacklog);
    }
    for (size_t source = 0; source < sourceCount; ++source)
        sourceLevels[source] = nextLevel(rms[source], sourceLevels[source]);
    std::vector<int16_t> out(wanted);
    std::transform(mix.begin(), mix.end(), out.begin(), toSample);
    return out;
}

std::array<float, Mixer::sourceCount> Mixer::levels() const
{
    std::lock_guard guard(lock);
    return sourceLevels;
}

void Mixer::clearQueues()
{
    std::lock_guard guard(lock);
    for (SampleQueue& queue : buffers)
        queue.clear();
    primed = {false, false};
}

}
