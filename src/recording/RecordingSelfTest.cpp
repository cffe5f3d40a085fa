#include "recording/RecordingSelfTest.h"

#include "channel/HelperError.h"
#include "channel/Params.h"
#include "recording/Mixer.h"
#include "recording/RecordingCommands.h"
#include "recording/StreamConverter.h"
#include "recording/WavWriter.h"

#include <cmath>
#include <cstdlib>

namespace tarvio {

namespace {

constexpr uint32_t toneFrames = 48000;
constexpr double twoPi440 = 2764.601535159018;

}

Json recordingSelfTest(const Json& params)
{
    const std::string path = recordingPath(params);

    std::optional<audio::AudioFormat> format = audio::AudioFormat::makeFloat(48000, 2);
    std::unique_ptr<audio::PcmBuffer> buffer = format ? audio::PcmBuffer::make(*format, toneFrames) : nullptr;
    std::unique_ptr<StreamConverter> converter = format ? StreamConverter::make(*format) : nullptr;
    if (!buffer || !converter)
        throw internalError("formato de teste inválido");

    buffer->setFrameLength(toneFrames);
    for (uint32_t channel = 0; channel < 2; ++channel) {
        float* samples = buffer->floatChannel(channel);
        for (uint32_t index = 0; index < toneFrames; ++index)
            samples[index] = static_cast<float>(std::sin(double(index) * twoPi440 / 48000.0)) * 0.5f;
    }

    // Not flushed: the converter's tail stays out, as in a live recording.
    std::vector<float> converted = converter->convert(*buffer);
    Mixer mixer;
    mixer.push(0, converted);
    mixer.push(1, std::vector<float>(converted.size(), 0.25f));
    std::vector<int16_t> mixed = mixer.pull(static_cast<int64_t>(converted.size()), {true, true});

    // A file that does not hold the whole test is a failed test.
    WavWriter writer(path);
    bool written = writer.append(mixed) == mixed.size();
    if (!writer.finish() || !written)
        throw internalError("não foi possível gravar " + path + ": " + writer.lastError());

    int peak = 0;
    for (int16_t sample : mixed)
        peak = std::max(peak, std::abs(int(sample)));
    return {
        {"samples", mixed.size()},
        {"peak", peak},
        {"convertedSamples", converted.size()},
    };
}

}
