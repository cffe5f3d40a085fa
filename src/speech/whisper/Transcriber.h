#pragma once

#include "speech/whisper/WhisperModel.h"

#include <string>
#include <vector>

namespace tarvio::whisper {

struct DecodingOptions {
    // A code of the model's language list; ignored by English-only models.
    std::string language = "en";
    // Text the decoder takes as already said, so that its words come out
    // spelled this way.
    std::string prompt;
    // Retry at rising temperatures when the output repeats itself or is
    // improbable; without it the greedy result stands.
    bool temperatureFallback = true;
    int threads = 2;
};

// The tokens the decoder starts a window with: the previous text after
// <|startofprev|> (at most half the context), then <|startoftranscript|>,
// the language and <|transcribe|> (multilingual models only) and
// <|notimestamps|>.
std::vector<int> initialTokens(const Vocabulary& vocabulary, int textContext, const std::string& language,
    const std::vector<int>& previous);

// Logits that must never win: special tokens, timestamps, languages, and at
// the first step end-of-text and the blank.
void suppressTokens(const Vocabulary& vocabulary, std::vector<float>& logits, bool firstStep);

struct WindowResult {
    std::vector<int> tokens;
    double averageLogProbability = 0.0;
    bool reachedEnd = false;
};

// Decodes one window from its audio keys and values at `temperature`
// (0: greedy).
WindowResult decodeWindow(const WhisperModel& model, const CrossCache& cross, const std::vector<int>& start,
    float temperature, unsigned seed);

// 16 kHz mono samples to text, window by window; text is the concatenated
// token bytes, untrimmed.
std::string transcribeSamples(const WhisperModel& model, const std::vector<float>& samples, const DecodingOptions& options);

}
