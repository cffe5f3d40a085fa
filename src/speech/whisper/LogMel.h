#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tarvio::whisper {

constexpr int sampleRate = 16000;
constexpr int fftSize = 400;
constexpr int hopLength = 160;
// Mel frames in one model window (30 s).
constexpr int windowFrames = 3000;

// Log-mel spectrogram, time-major: frame f, band b at [f * bands + b].
struct LogMel {
    int bands = 0;
    int frames = 0;
    // Frames that hold audio; the rest is the silence appended after it.
    int audioFrames = 0;
    std::vector<float> values;

    const float* frame(int index) const { return values.data() + static_cast<size_t>(index) * bands; }
};

// The model's front end: 16 kHz samples, a periodic Hann window of 400, hop
// 160, power spectrum through `filters` (bands x 201), log10, clamped to 8
// below the maximum and scaled as (x + 4) / 4. 30 s of silence follow the
// audio, so every window is full. Uses `threads` threads.
LogMel logMelSpectrogram(const std::vector<float>& samples, const std::vector<float>& filters, int bands, int threads);

}
