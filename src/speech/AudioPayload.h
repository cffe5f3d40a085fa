#pragma once

#include "channel/Json.h"
#include "audio/AudioConverter.h"
#include "audio/AudioFormat.h"
#include "audio/PcmBuffer.h"

#include <memory>
#include <string>
#include <optional>
#include <vector>

namespace tarvio {

struct AudioPayload {
    std::vector<float> samples;
    double sampleRate = 16000.0;
};

// Longest utterance a request may carry: a voice command, not a recording.
constexpr double maximumUtteranceSeconds = 300;

// "áudio longo demais para reconhecimento (máximo de 300 s)".
std::string overlongAudioMessage();

// "audioBase64" (little-endian float32 mono samples) and "sampleRate". Audio
// longer than maximumUtteranceSeconds at that rate is refused from the
// payload's length, before anything is decoded.
AudioPayload decodeAudioPayload(const Json& params);

// A mono float32 buffer at `sampleRate` holding `samples`.
std::unique_ptr<audio::PcmBuffer> makePcmFloatBuffer(const std::vector<float>& samples, double sampleRate);

// The buffer in `target`'s format: `input` itself when the formats are equal,
// else a new buffer that `owned` keeps.
const audio::PcmBuffer& convertBuffer(const audio::PcmBuffer& input, const audio::AudioFormat& target,
    std::unique_ptr<audio::PcmBuffer>& owned);

// Frames to allocate for converting `frames` from `inputRate` to
// `targetRate`: the ratio times the frames, truncated, plus 128; none when
// that does not fit a frame count.
std::optional<uint32_t> convertedCapacity(double inputRate, double targetRate, uint32_t frames);

// Hands over its one buffer on the first call and reports the end of the
// stream on every later call.
class OneShotInput {
public:
    explicit OneShotInput(const audio::PcmBuffer& buffer) : buffer(buffer) {}
    const audio::PcmBuffer* operator()(uint32_t framesWanted, audio::InputStatus& status);

private:
    const audio::PcmBuffer& buffer;
    bool handedOver = false;
};

}
