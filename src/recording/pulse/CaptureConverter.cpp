#include "recording/pulse/CaptureConverter.h"

namespace tarvio::pulse {

std::unique_ptr<CaptureConverter> CaptureConverter::make(uint32_t rate, uint32_t channels)
{
    auto input = audio::AudioFormat::make(audio::SampleType::float32, rate, channels, true);
    auto output = audio::AudioFormat::makeFloat(16000, 1);
    if (!input || !output)
        return nullptr;
    auto converter = audio::AudioConverter::make(*input, *output);
    if (!converter)
        return nullptr;
    return std::unique_ptr<CaptureConverter>(new CaptureConverter(*input, std::move(converter)));
}

std::vector<float> CaptureConverter::convert(const float* frames, size_t frameCount)
{
    if (frameCount == 0 || frameCount > UINT32_MAX)
        return {};
    auto chunk = audio::PcmBuffer::wrap(input, {const_cast<float*>(frames)}, static_cast<uint32_t>(frameCount));
    const double ratio = 16000.0 / input.sampleRate();
    auto output = audio::PcmBuffer::make(converter->outputFormat(), static_cast<uint32_t>(ratio * double(frameCount)) + 256);
    if (!chunk || !output)
        return {};
    bool handedOver = false;
    std::optional<std::string> error;
    converter->convert(*output, error, [&](uint32_t, audio::InputStatus& status) -> const audio::PcmBuffer* {
        if (handedOver) {
            status = audio::InputStatus::noDataNow;
            return nullptr;
        }
        handedOver = true;
        status = audio::InputStatus::haveData;
        return chunk.get();
    });
    if (error || !output->floatChannel(0))
        return {};
    const float* samples = output->floatChannel(0);
    return std::vector<float>(samples, samples + output->frameLength());
}

}
