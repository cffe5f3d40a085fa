// CPU cost of the recording pipeline per second of audio, the converter's
// quality, and sox converting the same input as a reference.

#include "recording/Mixer.h"
#include "recording/RecordingSelfTest.h"
#include "recording/StreamConverter.h"
#include "audio/ToneAnalysis.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

using namespace tarvio;
using namespace tarvio::testing;

namespace {

constexpr uint32_t blockFrames = 4096;

// `seconds` of a 440 Hz tone in `format`, cut into capture-sized buffers.
std::vector<std::unique_ptr<audio::PcmBuffer>> captureBuffers(const audio::AudioFormat& format, double frequency,
    double seconds)
{
    const size_t total = size_t(format.sampleRate() * seconds);
    std::vector<std::unique_ptr<audio::PcmBuffer>> buffers;
    for (size_t start = 0; start < total; start += blockFrames) {
        uint32_t frames = uint32_t(std::min<size_t>(blockFrames, total - start));
        auto buffer = audio::PcmBuffer::make(format, frames);
        buffer->setFrameLength(frames);
        auto tone = sineTone(frequency, format.sampleRate(), frames, 0.5, start);
        const uint32_t channels = format.channelCount();
        for (uint32_t frame = 0; frame < frames; ++frame) {
            for (uint32_t channel = 0; channel < channels; ++channel) {
                size_t plane = format.isInterleaved() ? 0 : channel;
                size_t slot = format.isInterleaved() ? size_t(frame) * channels + channel : frame;
                if (format.sampleType() == audio::SampleType::int16) {
                    int16_t value = int16_t(std::lround(tone[frame] * 32767.0));
                    std::memcpy(buffer->plane(plane) + slot * 2, &value, 2);
                } else {
                    std::memcpy(buffer->plane(plane) + slot * 4, &tone[frame], 4);
                }
            }
        }
        buffers.push_back(std::move(buffer));
    }
    return buffers;
}

std::vector<float> convertAll(StreamConverter& converter, const std::vector<std::unique_ptr<audio::PcmBuffer>>& buffers)
{
    std::vector<float> out;
    for (const auto& buffer : buffers) {
        auto block = converter.convert(*buffer);
        out.insert(out.end(), block.begin(), block.end());
    }
    return out;
}

// One iteration is one second of audio: its time is the CPU per audio second.
void streamConverter(benchmark::State& state, audio::SampleType type, double rate, uint32_t channels, bool interleaved)
{
    auto format = *audio::AudioFormat::make(type, rate, channels, interleaved);
    auto buffers = captureBuffers(format, 440, 1.0);
    auto converter = StreamConverter::make(format);
    for (auto _ : state) {
        for (const auto& buffer : buffers) {
            auto block = converter->convert(*buffer);
            benchmark::DoNotOptimize(block.data());
        }
    }
    state.SetLabel("per audio second");
}
BENCHMARK_CAPTURE(streamConverter, float48kStereo, audio::SampleType::float32, 48000, 2, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(streamConverter, int16_44k1Stereo, audio::SampleType::int16, 44100, 2, true)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(streamConverter, float16kMono, audio::SampleType::float32, 16000, 1, false)->Unit(benchmark::kMicrosecond);

// sox on the same 48 kHz stereo float tone to 16 kHz mono, file to file; its
// CPU time (user + system of the child) per audio second is the iteration time.
void soxReference(benchmark::State& state)
{
    constexpr double seconds = 60;
    auto folder = std::filesystem::temp_directory_path() / ("tarvio-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    auto input = folder / "in.raw";
    auto output = folder / "out.raw";
    {
        std::ofstream out(input, std::ios::binary);
        auto tone = sineTone(440, 48000, size_t(48000 * seconds), 0.5);
        std::vector<float> stereo(tone.size() * 2);
        for (size_t index = 0; index < tone.size(); ++index)
            stereo[2 * index] = stereo[2 * index + 1] = tone[index];
        out.write(reinterpret_cast<const char*>(stereo.data()), std::streamsize(stereo.size() * sizeof(float)));
    }
    for (auto _ : state) {
        pid_t child = ::fork();
        if (child == 0) {
            int devNull = ::open("/dev/null", O_WRONLY);
            ::dup2(devNull, 1);
            ::dup2(devNull, 2);
            ::execlp("sox", "sox", "-q", "-t", "raw", "-r", "48000", "-e", "floating-point", "-b", "32", "-c", "2",
                input.c_str(), "-t", "raw", "-e", "floating-point", "-b", "32", output.c_str(), "channels", "1", "rate",
                "-h", "16000", nullptr);
            ::_exit(127);
        }
        int status = 0;
        rusage usage {};
        ::wait4(child, &status, 0, &usage);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("sox failed (is it installed?)");
            break;
        }
        double cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) * 1e-6;
        state.SetIterationTime(cpu / seconds);
    }
    state.SetLabel("sox CPU per audio second (60 s file)");
    std::filesystem::remove_all(folder);
}
BENCHMARK(soxReference)->UseManualTime()->Iterations(3)->Unit(benchmark::kMicrosecond);

// The same 60 s through our converter, for a like-for-like comparison.
void streamConverterLong(benchmark::State& state)
{
    auto format = *audio::AudioFormat::makeFloat(48000, 2);
    auto buffers = captureBuffers(format, 440, 60);
    for (auto _ : state) {
        timespec before {}, after {};
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &before);
        auto converter = StreamConverter::make(format);
        auto out = convertAll(*converter, buffers);
        benchmark::DoNotOptimize(out.data());
        ::clock_gettime(CLOCK_THREAD_CPUTIME_ID, &after);
        double cpu = double(after.tv_sec - before.tv_sec) + double(after.tv_nsec - before.tv_nsec) * 1e-9;
        state.SetIterationTime(cpu / 60);
    }
    state.SetLabel("our CPU per audio second (60 s, same input as sox)");
}
BENCHMARK(streamConverterLong)->UseManualTime()->Iterations(3)->Unit(benchmark::kMicrosecond);

// Signal-to-noise ratio on a 1 kHz tone and the level of a 9 kHz tone (above
// the output's Nyquist frequency) after conversion, both from 48 kHz stereo.
void converterQuality(benchmark::State& state)
{
    auto format = *audio::AudioFormat::makeFloat(48000, 2);
    double snr = 0;
    double alias = 0;
    for (auto _ : state) {
        auto converter = StreamConverter::make(format);
        auto clean = convertAll(*converter, captureBuffers(format, 1000, 10));
        snr = -errorDb(clean, 1000, 16000, 0.5, 1000, clean.size());
        auto aliased = StreamConverter::make(format);
        auto high = convertAll(*aliased, captureBuffers(format, 9000, 10));
        alias = powerDb(high, 0.5, 1000, high.size());
    }
    state.counters["snr_1kHz_dB"] = snr;
    state.counters["alias_9kHz_dB"] = alias;
}
BENCHMARK(converterQuality)->Iterations(1)->Unit(benchmark::kMillisecond);

// One tick: both sources deliver 100 ms and the timer pulls 100 ms.
void mixerTick(benchmark::State& state)
{
    Mixer mixer;
    std::vector<float> system = sineTone(440, 16000, 1600, 0.5);
    std::vector<float> mic = sineTone(300, 16000, 1600, 0.25);
    for (auto _ : state) {
        mixer.push(0, system);
        mixer.push(1, mic);
        auto out = mixer.pull(1600, {true, true});
        benchmark::DoNotOptimize(out.data());
    }
    state.SetLabel("2 pushes + 1 pull of 1600 samples");
}
BENCHMARK(mixerTick)->Unit(benchmark::kMicrosecond);

void selfTest(benchmark::State& state)
{
    auto path = std::filesystem::temp_directory_path() / ("tarvio-selftest-" + std::to_string(::getpid()) + ".wav");
    Json params{{"path", path.string()}};
    for (auto _ : state)
        benchmark::DoNotOptimize(recordingSelfTest(params));
    std::filesystem::remove(path);
}
BENCHMARK(selfTest)->Unit(benchmark::kMillisecond)->UseRealTime();

}

BENCHMARK_MAIN();
