#include "audio/AudioConverter.h"

#include <cmath>
#include <cstring>
#include <soxr.h>

namespace tarvio::audio {

namespace {

template<typename Sample>
float sampleAt(const std::byte* plane, size_t index)
{
    Sample value;
    std::memcpy(&value, plane + index * sizeof(Sample), sizeof(Sample));
    if constexpr (std::is_same_v<Sample, int16_t>)
        return static_cast<float>(value) * (1.0f / 32768.0f);
    else if constexpr (std::is_same_v<Sample, int32_t>)
        return static_cast<float>(static_cast<double>(value) * (1.0 / 2147483648.0));
    else
        return static_cast<float>(value);
}

template<typename Sample>
void downMix(const PcmBuffer& buffer, float* out)
{
    const AudioFormat& format = buffer.format();
    const uint32_t channels = format.channelCount();
    const uint32_t frames = buffer.frameLength();
    const float scale = 1.0f / static_cast<float>(channels);
    if (channels == 1) {
        for (uint32_t frame = 0; frame < frames; ++frame)
            out[frame] = sampleAt<Sample>(buffer.plane(0), frame);
        return;
    }
    for (uint32_t frame = 0; frame < frames; ++frame) {
        float sum = 0;
        for (uint32_t channel = 0; channel < channels; ++channel) {
            sum += format.isInterleaved() ? sampleAt<Sample>(buffer.plane(0), size_t(frame) * channels + channel)
                                          : sampleAt<Sample>(buffer.plane(channel), frame);
        }
        out[frame] = sum * scale;
    }
}

}

std::unique_ptr<AudioConverter> AudioConverter::make(const AudioFormat& input, const AudioFormat& output)
{
    if (output.sampleType() != SampleType::float32 || output.channelCount() != 1)
        return nullptr;
    std::unique_ptr<AudioConverter> converter(new AudioConverter(input, output));
    if (input.sampleRate() == output.sampleRate())
        return converter;
    soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    soxr_error_t error = nullptr;
    converter->resampler = soxr_create(input.sampleRate(), output.sampleRate(), 1, &error, &io, &quality, &runtime);
    if (error || !converter->resampler)
        return nullptr;
    return converter;
}

AudioConverter::~AudioConverter()
{
    if (resampler)
        soxr_delete(resampler);
}

void AudioConverter::appendMono(const PcmBuffer& buffer)
{
    if (pendingStart == pending.size()) {
        pending.clear();
        pendingStart = 0;
    }
    size_t offset = pending.size();
    pending.resize(offset + buffer.frameLength());
    float* out = pending.data() + offset;
    switch (input.sampleType()) {
    case SampleType::float32: downMix<float>(buffer, out); break;
    case SampleType::float64: downMix<double>(buffer, out); break;
    case SampleType::int16: downMix<int16_t>(buffer, out); break;
    case SampleType::int32: downMix<int32_t>(buffer, out); break;
    }
}

size_t AudioConverter::drain(float* out, size_t room, bool flush, std::optional<std::string>& error)
{
    size_t available = pending.size() - pendingStart;
    if (!resampler) {
        size_t count = available < room ? available : room;
        std::memcpy(out, pending.data() + pendingStart, count * sizeof(float));
        pendingStart += count;
        return count;
    }
    size_t written = 0;
    while (written < room) {
        if (available == 0 && !flush)
            break;
        // With nothing left to feed, a null input asks soxr for its tail.
        const float* in = available ? pending.data() + pendingStart : nullptr;
        size_t consumed = 0, produced = 0;
        soxr_error_t failure = soxr_process(resampler, in, available, &consumed, out + written, room - written, &produced);
        if (failure) {
            error = std::string("falha na conversão de áudio: ") + failure;
            return written;
        }
        pendingStart += consumed;
        available -= consumed;
        written += produced;
        if (consumed == 0 && produced == 0)
            break;
    }
    return written;
}

uint32_t AudioConverter::inputFramesFor(size_t outputFrames) const
{
    double frames = std::ceil(double(outputFrames) * input.sampleRate() / output.sampleRate());
    if (!(frames < double(UINT32_MAX)))
        return UINT32_MAX;
    return static_cast<uint32_t>(frames);
}

ConversionStatus AudioConverter::convert(PcmBuffer& out, std::optional<std::string>& error, const InputProvider& provider)
{
    error.reset();
    out.setFrameLength(0);
    if (!(out.format() == output)) {
        error = "formato de saída diferente do conversor";
        return ConversionStatus::error;
    }
    float* samples = out.floatChannel(0);
    const size_t room = out.frameCapacity();
    size_t written = 0;
    ConversionStatus status = ConversionStatus::haveData;
    while (written < room) {
        if (ended) {
            written += drain(samples + written, room - written, true, error);
            status = ConversionStatus::endOfStream;
            break;
        }
        InputStatus inputStatus = InputStatus::noDataNow;
        const PcmBuffer* next = provider(inputFramesFor(room - written), inputStatus);
        if (inputStatus == InputStatus::haveData && next) {
            if (!(next->format() == input)) {
                error = "formato de entrada diferente do conversor";
                return ConversionStatus::error;
            }
            appendMono(*next);
            written += drain(samples + written, room - written, false, error);
            if (error)
                break;
            continue;
        }
        if (inputStatus == InputStatus::endOfStream) {
            ended = true;
            continue;
        }
        // No data now: hand over what is ready and keep the filter's state.
        written += drain(samples + written, room - written, false, error);
        status = ConversionStatus::inputRanDry;
        break;
    }
    out.setFrameLength(static_cast<uint32_t>(written));
    if (error)
        return ConversionStatus::error;
    return status;
}

}
