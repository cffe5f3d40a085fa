#include "speech/whisper/LogMel.h"

#include <algorithm>
#include <cmath>
#include <gtest/gtest.h>

namespace tarvio::testing {
namespace {

using namespace tarvio::whisper;

// The front end by its definition, in double precision with a direct DFT.
std::vector<double> referenceMel(const std::vector<float>& samples, const std::vector<float>& filters, int bands,
    int frames)
{
    const int edge = fftSize / 2;
    auto padded = [&](int64_t index) -> double {
        // Reflected before the start; silence after the end.
        if (index < edge)
            return samples[static_cast<size_t>(edge - index)];
        index -= edge;
        return index < static_cast<int64_t>(samples.size()) ? samples[static_cast<size_t>(index)] : 0.0;
    };
    std::vector<double> mel(static_cast<size_t>(frames) * bands);
    for (int frame = 0; frame < frames; ++frame) {
        std::vector<double> power(201);
        for (int k = 0; k <= fftSize / 2; ++k) {
            double re = 0.0;
            double im = 0.0;
            for (int n = 0; n < fftSize; ++n) {
                double windowed = 0.5 * (1 - std::cos(2 * M_PI * n / fftSize)) * padded(frame * hopLength + n);
                re += windowed * std::cos(2 * M_PI * k * n / fftSize);
                im -= windowed * std::sin(2 * M_PI * k * n / fftSize);
            }
            power[static_cast<size_t>(k)] = re * re + im * im;
        }
        for (int band = 0; band < bands; ++band) {
            double sum = 0.0;
            for (int k = 0; k < 201; ++k)
                sum += power[static_cast<size_t>(k)] * filters[static_cast<size_t>(band * 201 + k)];
            mel[static_cast<size_t>(frame * bands + band)] = std::log10(std::max(sum, 1e-10));
        }
    }
    double ceiling = *std::max_element(mel.begin(), mel.end());
    for (auto& value : mel)
        value = (std::max(value, ceiling - 8.0) + 4.0) / 4.0;
    return mel;
}

TEST(LogMel, MatchesTheDefinitionAndAppendsSilence)
{
    const int bands = 4;
    std::vector<float> filters(static_cast<size_t>(bands) * 201, 0.0f);
    for (int band = 0; band < bands; ++band)
        for (int k = band * 10; k < band * 10 + 30; ++k)
            filters[static_cast<size_t>(band * 201 + k)] = 0.01f * static_cast<float>(k - band * 10);
    // A chirp with a quiet start, 0.1 s.
    std::vector<float> samples(1600);
    for (size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<float>(0.5 * std::sin(0.0005 * i * i) * std::min(1.0, i / 400.0));

    for (int threads : {1, 2}) {
        LogMel mel = logMelSpectrogram(samples, filters, bands, threads);
        EXPECT_EQ(mel.frames, (1600 + 480000) / 160);
        EXPECT_EQ(mel.audioFrames, 10);
        // The frames up to the end of the sound, and a few of the silence.
        auto reference = referenceMel(samples, filters, bands, 16);
        for (int frame = 0; frame < 16; ++frame)
            for (int band = 0; band < bands; ++band)
                ASSERT_NEAR(mel.frame(frame)[band], reference[static_cast<size_t>(frame * bands + band)], 1e-4)
                    << "frame " << frame << " band " << band << " threads " << threads;
        // Silence sits at the floor, 2 below the loudest value.
        float top = *std::max_element(mel.values.begin(), mel.values.end());
        EXPECT_FLOAT_EQ(mel.frame(mel.frames - 1)[0], top - 2.0f);
    }
}

}
}
