#include "recording/StreamConverter.h"

#include <cmath>

namespace tarvio {

std::unique_ptr<StreamConverter> StreamConverter::make(const audio::AudioFormat& input)
{
    std::optional<audio::AudioFormat> outFormat = audio::AudioFormat::makeFloat(outputRate, 1);
    if (!outFormat)
        return nullptr;
    std::unique_ptr<audio::AudioConverter> converter = audio::AudioConverter::make(input, *outFormat);
    if (!converter)
        return nullptr;
    double ratio = outputRate / input.sampleRate();
    return std::unique_ptr<StreamConverter>(new StreamConverter(std::move(converter), *outFormat, ratio));
}

std::optional<uint32_t> StreamConverter::outputCapacity(uint32_t frames) const
{
    double scaled = std::trunc(rateRatio * double(frames));
    if (!(scaled >= 0) || scaled > double(UINT32_MAX - headroomFrames))
        return std::nullopt;
    return static_cast<uint32_t>(scaled) + headroomFrames;
}

std::vector<float> StreamConverter::convert(const audio::PcmBuffer& input)
{
    std::optional<uint32_t> capacity = outputCapacity(input.frameLength());
    if (!capacity)
        return {};
    std::unique_ptr<audio::PcmBuffer> output = audio::PcmBuffer::make(outFormat, *capacity);
    if (!output)
        return {};
    // Hands over the one buffer, then "no data now", never "end of stream":
    // the resampler keeps its tail for the next buffer.
    bool handedOver = false;
    auto provider = [&](uint32_t, audio::InputStatus& status) -> const audio::PcmBuffer* {
        if (handedOver) {
            status = audio::InputStatus::noDataNow;
            return nullptr;
        }
        handedOver = true;
        status = audio::InputStatus::haveData;
        return &input;
    };
    std::optional<std::string> error;
    converter->convert(*output, error, provider);
    if (error)
        return {};
    const float* samples = output->floatChannel(0);
    if (!samples || output->frameLength() == 0)
        return {};
    return std::vector<float>(samples, samples + output->frameLength());
}

}
