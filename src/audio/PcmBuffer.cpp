#include "audio/PcmBuffer.h"

#include <new>

namespace tarvio::audio {

uint32_t bytesPerSample(SampleType type)
{
    switch (type) {
    case SampleType::float32: return 4;
    case SampleType::float64: return 8;
    case SampleType::int16: return 2;
    case SampleType::int32: return 4;
    }
    return 4;
}

std::optional<AudioFormat> AudioFormat::make(SampleType type, double sampleRate, uint32_t channels, bool interleaved)
{
    // Written so that NaN fails too.
    if (!(sampleRate > 0) || sampleRate > 1e9 || channels < 1 || channels > 64)
        return std::nullopt;
    return AudioFormat(type, sampleRate, channels, interleaved);
}

std::unique_ptr<PcmBuffer> PcmBuffer::make(const AudioFormat& format, uint32_t frameCapacity)
{
    std::unique_ptr<PcmBuffer> buffer(new (std::nothrow) PcmBuffer(format, frameCapacity));
    if (!buffer)
        return nullptr;
    size_t planeCount = format.isInterleaved() ? 1 : format.channelCount();
    size_t planeBytes = size_t(frameCapacity) * bytesPerSample(format.sampleType())
        * (format.isInterleaved() ? format.channelCount() : 1);
    try {
        buffer->storage.resize(planeBytes * planeCount);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    for (size_t index = 0; index < planeCount; ++index)
        buffer->planes.push_back(buffer->storage.data() + index * planeBytes);
    return buffer;
}

std::unique_ptr<PcmBuffer> PcmBuffer::wrap(const AudioFormat& format, std::vector<void*> planes, uint32_t frames)
{
    size_t expected = format.isInterleaved() ? 1 : format.channelCount();
    if (planes.size() != expected)
        return nullptr;
    for (void* plane : planes)
        if (!plane && frames)
            return nullptr;
    std::unique_ptr<PcmBuffer> buffer(new (std::nothrow) PcmBuffer(format, frames));
    if (!buffer)
        return nullptr;
    buffer->planes = std::move(planes);
    buffer->length = frames;
    return buffer;
}

float* PcmBuffer::floatChannel(uint32_t channel)
{
    if (bufferFormat.sampleType() != SampleType::float32 || bufferFormat.isInterleaved())
        return nullptr;
    if (channel >= planes.size())
        return nullptr;
    return static_cast<float*>(planes[channel]);
}

const float* PcmBuffer::floatChannel(uint32_t channel) const
{
    return const_cast<PcmBuffer*>(this)->floatChannel(channel);
}

}
