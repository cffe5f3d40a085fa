#pragma once

#include "audio/AudioFormat.h"
#include "audio/PcmBuffer.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct soxr;

namespace tarvio::audio {

// What an input provider reports each time the converter asks for input.
enum class InputStatus {
    haveData = 0,
    noDataNow = 1,
    endOfStream = 2,
};

// Called with the number of frames the converter would like; sets the
// status and returns the next buffer (in the converter's input format), or
// null with noDataNow / endOfStream.
using InputProvider = std::function<const PcmBuffer*(uint32_t framesWanted, InputStatus& status)>;

enum class ConversionStatus {
    haveData = 0,
    inputRanDry = 1,
    endOfStream = 2,
    error = 3,
};

// Resamples any rate, sample type and channel count (averaged down) to
// mono float32, with libsoxr. After noDataNow it keeps its filter state, so a
// stream converted block by block stays continuous; after endOfStream it
// flushes the filter's tail.
class AudioConverter {
public:
    // None when the output format is not mono non-interleaved float32, or
    // the resampler cannot be built.
    static std::unique_ptr<AudioConverter> make(const AudioFormat& input, const AudioFormat& output);
    ~AudioConverter();

    AudioConverter(const AudioConverter&) = delete;
    AudioConverter& operator=(const AudioConverter&) = delete;

    // Fills `output` from its start, sets its frame length, and returns why
    // it stopped. On failure `error` holds the reason.
    ConversionStatus convert(PcmBuffer& output, std::optional<std::string>& error, const InputProvider& provider);

    const AudioFormat& inputFormat() const { return input; }
    const AudioFormat& outputFormat() const { return output; }

private:
    AudioConverter(const AudioFormat& input, const AudioFormat& output) : input(input), output(output) {}

    // Input frames that would fill `outputFrames`: what a provider is asked for.
    uint32_t inputFramesFor(size_t outputFrames) const;
    // Mono float samples of `buffer` appended to `pending`.
    void appendMono(const PcmBuffer& buffer);
    // Moves pending input through the resampler into `out`; returns frames written.
    size_t drain(float* out, size_t room, bool flush, std::optional<std::string>& error);

    AudioFormat input;
    AudioFormat output;
    soxr* resampler = nullptr;
    std::vector<float> pending;
    size_t pendingStart = 0;
    bool ended = false;
};

}
