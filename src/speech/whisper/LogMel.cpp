#include "speech/whisper/LogMel.h"

#include <algorithm>
#include <cmath>
#include <complex>
#include <fftw3.h>
#include <mutex>
#include <thread>

namespace tarvio::whisper {

namespace {

constexpr int bins = fftSize / 2 + 1;

// Planning is not thread-safe in FFTW; executing a plan is.
fftwf_plan sharedPlan()
{
    static std::once_flag planned;
    static fftwf_plan plan = nullptr;
    std::call_once(planned, [] {
        std::vector<float> input(fftSize);
        std::vector<fftwf_complex> output(bins);
        plan = fftwf_plan_dft_r2c_1d(fftSize, input.data(), output.data(), FFTW_ESTIMATE | FFTW_UNALIGNED);
    });
    return plan;
}

std::vector<float> hannWindow()
{
    std::vector<float> window(fftSize);
    for (int i = 0; i < fftSize; ++i)
        window[i] = static_cast<float>(0.5 * (1.0 - std::cos(2.0 * M_PI * i / fftSize)));
    return window;
}

}

LogMel logMelSpectrogram(const std::vector<float>& samples, const std::vector<float>& filters, int bands, int threads)
{
    const int64_t count = static_cast<int64_t>(samples.size());
    const int64_t edge = fftSize / 2;
    // Reflected start, the audio, then silence: 30 s plus the other edge.
    std::vector<float> padded(static_cast<size_t>(count + sampleRate * 30 + 2 * edge), 0.0f);
    std::copy(samples.begin(), samples.end(), padded.begin() + edge);
    int64_t reflected = std::min<int64_t>(edge, std::max<int64_t>(0, count - 1));
    std::reverse_copy(samples.begin() + 1, samples.begin() + 1 + reflected, padded.begin() + (edge - reflected));

    LogMel mel;
    mel.bands = bands;
    mel.frames = static_cast<int>((static_cast<int64_t>(padded.size()) - fftSize) / hopLength);
    mel.audioFrames = static_cast<int>(std::min<int64_t>(mel.frames, count / hopLength));
    mel.values.assign(static_cast<size_t>(mel.frames) * bands, -10.0f);
    // Frames past this one see only silence.
    const int64_t soundEnd = count + edge;
    const int lastSounding = static_cast<int>(std::min<int64_t>(soundEnd / hopLength + 1, mel.frames));

    const std::vector<float> window = hannWindow();
    fftwf_plan plan = sharedPlan();
    auto work = [&](int first) {
        std::vector<float> input(fftSize);
        std::vector<fftwf_complex> output(bins);
        std::vector<float> power(bins);
        for (int frame = first; frame < lastSounding; frame += threads) {
            int64_t offset = static_cast<int64_t>(frame) * hopLength;
            for (int j = 0; j < fftSize; ++j)
                input[j] = offset + j < soundEnd ? window[j] * padded[offset + j] : 0.0f;
            fftwf_execute_dft_r2c(plan, input.data(), output.data());
            for (int k = 0; k < bins; ++k)
                power[k] = output[k][0] * output[k][0] + output[k][1] * output[k][1];
            float* target = mel.values.data() + static_cast<size_t>(frame) * bands;
            for (int band = 0; band < bands; ++band) {
                const float* filter = filters.data() + static_cast<size_t>(band) * bins;
                double sum = 0.0;
                for (int k = 0; k < bins; ++k)
                    sum += power[k] * filter[k];
                target[band] = static_cast<float>(std::log10(std::max(sum, 1e-10)));
            }
        }
    };
    threads = std::max(1, threads);
    {
        std::vector<std::jthread> helpers;
        for (int index = 1; index < threads; ++index)
            helpers.emplace_back(work, index);
        work(0);
    }

    float ceiling = *std::max_element(mel.values.begin(), mel.values.end());
    float floor = ceiling - 8.0f;
    for (auto& value : mel.values)
        value = (std::max(value, floor) + 4.0f) / 4.0f;
    return mel;
}

}
