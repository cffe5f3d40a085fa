#pragma once

#include "audio/AudioFormat.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tarvio::audio {

// Frames of PCM audio in one format: either owned storage of a fixed
// capacity, or a view over memory a capture callback received (valid only
// while that callback runs).
class PcmBuffer {
public:
    // None when the storage cannot be allocated.
    static std::unique_ptr<PcmBuffer> make(const AudioFormat& format, uint32_t frameCapacity);
    // One plane for interleaved formats, one per channel otherwise; none when
    // the planes do not match the format.
    static std::unique_ptr<PcmBuffer> wrap(const AudioFormat& format, std::vector<void*> planes, uint32_t frames);

    const AudioFormat& format() const { return bufferFormat; }
    uint32_t frameCapacity() const { return capacity; }
    uint32_t frameLength() const { return length; }
    // Clamped to the capacity.
    void setFrameLength(uint32_t frames) { length = frames < capacity ? frames : capacity; }

    // Present (non-null) only for non-interleaved float32 buffers.
    float* floatChannel(uint32_t channel);
    const float* floatChannel(uint32_t channel) const;

    // Raw planes: one for interleaved formats, one per channel otherwise.
    size_t planeCount() const { return planes.size(); }
    const std::byte* plane(size_t index) const { return static_cast<const std::byte*>(planes[index]); }
    std::byte* plane(size_t index) { return static_cast<std::byte*>(planes[index]); }

private:
    PcmBuffer(const AudioFormat& format, uint32_t capacity) : bufferFormat(format), capacity(capacity) {}

    AudioFormat bufferFormat;
    uint32_t capacity;
    uint32_t length = 0;
    std::vector<std::byte> storage;
    std::vector<void*> planes;
};

}
