#pragma once

#include "audio/AudioConverter.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace tarvio {

// Turns captured buffers of one input format (any rate, channel count or
// sample type) into blocks of the recording's stream: 16 kHz, mono, 32-bit
// float. The resampler's state carries from one buffer to the next, so the
// blocks of a source join without gaps or clicks; it is never flushed. Used
// from one thread only.
class StreamConverter {
public:
    static constexpr double outputRate = 16000.0;
    static constexpr uint32_t headroomFrames = 256;

    // None when no converter exists between the two formats.
    static std::unique_ptr<StreamConverter> make(const audio::AudioFormat& input);

    // One block, possibly empty: a little below ratio × frames at times, the
    // rest following with later buffers. A buffer of another format, or a
    // failed conversion, gives an empty block.
    std::vector<float> convert(const audio::PcmBuffer& input);

    double ratio() const { return rateRatio; }
    const audio::AudioFormat& inputFormat() const { return converter->inputFormat(); }
    // Output frames reserved for `frames` input frames; none when that does
    // not fit a 32-bit frame count.
    std::optional<uint32_t> outputCapacity(uint32_t frames) const;

private:
    StreamConverter(std::unique_ptr<audio::AudioConverter> converter, const audio::AudioFormat& outFormat, double ratio)
        : converter(std::move(converter)), outFormat(outFormat), rateRatio(ratio) {}

    std::unique_ptr<audio::AudioConverter> converter;
    audio::AudioFormat outFormat;
    double rateRatio;
};

}
