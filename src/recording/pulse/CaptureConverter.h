#pragma once

#include "recording/audio/AudioConverter.h"

#include <memory>
#include <vector>

namespace tarvio::pulse {

// Turns the server's interleaved float frames into the recording's 16 kHz
// mono stream, keeping the resampler's state from one chunk to the next.
class CaptureConverter {
public:
    // None when no converter exists for that layout.
    static std::unique_ptr<CaptureConverter> make(uint32_t rate, uint32_t channels);

    std::vector<float> convert(const float* frames, size_t frameCount);

private:
    CaptureConverter(audio::AudioFormat input, std::unique_ptr<audio::AudioConverter> converter)
        : input(input), converter(std::move(converter)) {}

    audio::AudioFormat input;
    std::unique_ptr<audio::AudioConverter> converter;
};

}
