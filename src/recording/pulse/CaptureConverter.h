#pragma once

#include "recording/StreamConverter.h"

#include <memory>
#include <vector>

namespace tarvio::pulse {

// Hands the server's interleaved float frames to the source's stream
// converter, which keeps its state from one chunk to the next.
class CaptureConverter {
public:
    // None when no converter exists for that layout.
    static std::unique_ptr<CaptureConverter> make(uint32_t rate, uint32_t channels);

    std::vector<float> convert(const float* frames, size_t frameCount);

private:
    CaptureConverter(audio::AudioFormat input, std::unique_ptr<StreamConverter> converter)
        : input(input), converter(std::move(converter)) {}

    audio::AudioFormat input;
    std::unique_ptr<StreamConverter> converter;
};

}
