#pragma once

#include <cstdint>
#include <optional>

namespace tarvio::audio {

// The sample types captured audio arrives in; the numbering follows the
// platform-neutral "common format" codes (1 is 32-bit float).
enum class SampleType : uint8_t {
    float32 = 1,
    float64 = 2,
    int16 = 3,
    int32 = 4,
};

uint32_t bytesPerSample(SampleType type);

// A PCM layout. Equal formats compare equal.
class AudioFormat {
public:
    // None for a rate that is not a positive finite number or for a channel
    // count outside 1 to 64.
    static std::optional<AudioFormat> make(SampleType type, double sampleRate, uint32_t channels, bool interleaved);
    static std::optional<AudioFormat> makeFloat(double sampleRate, uint32_t channels)
    {
        return make(SampleType::float32, sampleRate, channels, false);
    }

    SampleType sampleType() const { return type; }
    double sampleRate() const { return rate; }
    uint32_t channelCount() const { return channels; }
    // A single channel is the same either way.
    bool isInterleaved() const { return interleaved && channels > 1; }
    uint32_t bytesPerFrame() const { return bytesPerSample(type) * channels; }

    bool operator==(const AudioFormat& other) const
    {
        return type == other.type && rate == other.rate && channels == other.channels
            && isInterleaved() == other.isInterleaved();
    }

private:
    AudioFormat(SampleType type, double rate, uint32_t channels, bool interleaved)
        : type(type), rate(rate), channels(channels), interleaved(interleaved) {}

    SampleType type;
    double rate;
    uint32_t channels;
    bool interleaved;
};

}
