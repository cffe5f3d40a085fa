#include "recording/pulse/StreamSum.h"

#include <algorithm>

namespace tarvio::pulse {

void StreamSum::add(uint32_t stream)
{
    streams.try_emplace(stream);
}

void StreamSum::remove(uint32_t stream)
{
    streams.erase(stream);
}

std::vector<float> StreamSum::push(uint32_t stream, const float* frames, size_t frameCount)
{
    auto found = streams.find(stream);
    if (found == streams.end() || frameCount == 0)
        return {};
    Pending& pending = found->second;
    pending.silent = false;
    if (streams.size() == 1 && pending.samples.empty())
        return std::vector<float>(frames, frames + frameCount * channels);
    pending.samples.insert(pending.samples.end(), frames, frames + frameCount * channels);
    const size_t pushed = pending.samples.size() / channels;
    if (pushed > maxLag)
        return take(pushed);
    size_t ready = pushed;
    for (const auto& [id, other] : streams)
        if (!other.silent)
            ready = std::min(ready, other.samples.size() / channels);
    return take(ready);
}

std::vector<float> StreamSum::take(size_t frames)
{
    if (frames == 0)
        return {};
    std::vector<float> sum(frames * channels, 0.0f);
    for (auto& [id, pending] : streams) {
        size_t count = std::min(pending.samples.size(), sum.size());
        for (size_t index = 0; index < count; ++index)
            sum[index] += pending.samples[index];
        pending.samples.erase(pending.samples.begin(), pending.samples.begin() + static_cast<ptrdiff_t>(count));
        // Short of what went out: it lags, and is silent until it delivers.
        if (count < sum.size())
            pending.silent = true;
    }
    return sum;
}

}
