#include "recording/pulse/CaptureConverter.h"

namespace tarvio::pulse {

std::unique_ptr<CaptureConverter> CaptureConverter::make(uint32_t rate, uint32_t channels)
{
    auto input = audio::AudioFormat::make(audio::SampleType::float32, rate, channels, true);
    if (!input)
        return nullptr;
    auto converter = StreamConverter::make(*input);
    if (!converter)
        return nullptr;
    return std::unique_ptr<CaptureConverter>(new CaptureConverter(*input, std::move(converter)));
}

std::vector<float> CaptureConverter::convert(const float* frames, size_t frameCount)
{
    if (frameCount == 0 || frameCount > UINT32_MAX)
        return {};
    // A view over the server's memory, valid for this call only.
    auto chunk = audio::PcmBuffer::wrap(input, {const_cast<float*>(frames)}, static_cast<uint32_t>(frameCount));
    if (!chunk)
        return {};
    return converter->convert(*chunk);
}

}
