// Time per stage and peak resident size of our Whisper engine on generated
// models of the tiny and base shapes in each stored kind: load, log-mel,
// encoder, audio keys and values, decoding, and one whole 3 s command with
// the model loaded. Each model runs in a child of its own, so its peak size
// is its own; each stage is repeated and the best run kept (the machine is
// shared).
//
//   whisper_speed_bench [--repeat N] [model name ...]
//   whisper_speed_bench --write <model name> <file>   (for a profiler)
//   whisper_speed_bench --measure <file> <repeat>
//
// Model names: tiny-f16, base-f16, base-f32, base-q8_0, base-q5_0,
// base-q5_1, tiny-q5_1 (all when none is given).

#include "speech/whisper/GeneratedModel.h"
#include "speech/whisper/Transcriber.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace tarvio;
namespace fs = std::filesystem;

struct Clock {
    std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
    double processor = processorNow();

    static double processorNow()
    {
        timespec now{};
        clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
        return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
    }
};

struct Lap {
    double wall = 1e9;
    double processor = 1e9;
};

// Runs `body` `repeat` times; keeps the fastest by wall time.
template<typename Body>
Lap best(int repeat, Body body)
{
    Lap fastest;
    for (int i = 0; i < repeat; ++i) {
        Clock start;
        body();
        double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count();
        if (wall < fastest.wall)
            fastest = {wall, Clock::processorNow() - start.processor};
    }
    return fastest;
}

std::map<std::string, std::pair<testing::ModelShape, whisper::TensorKind>> recipes()
{
    using whisper::TensorKind;
    return {
        {"tiny-f16", {testing::tinyShape(), TensorKind::f16}},
        {"tiny-q5_1", {testing::tinyShape(), TensorKind::q5_1}},
        {"base-f32", {testing::baseShape(), TensorKind::f32}},
        {"base-f16", {testing::baseShape(), TensorKind::f16}},
        {"base-q8_0", {testing::baseShape(), TensorKind::q8_0}},
        {"base-q5_0", {testing::baseShape(), TensorKind::q5_0}},
        {"base-q5_1", {testing::baseShape(), TensorKind::q5_1}},
    };
}

// 3 s of a voiced-like sound: what it says does not change the work, since
// the encoder always sees the whole window and the model's words are fixed.
std::vector<float> commandSamples()
{
    std::vector<float> samples(3 * whisper::sampleRate);
    for (size_t i = 0; i < samples.size(); ++i) {
        double t = static_cast<double>(i) / whisper::sampleRate;
        samples[i] = static_cast<float>(0.3 * std::sin(2 * M_PI * 180 * t) * (0.6 + 0.4 * std::sin(2 * M_PI * 3 * t)));
    }
    return samples;
}

void write(const std::pair<testing::ModelShape, whisper::TensorKind>& kind, const fs::path& file)
{
    std::vector<int> words;
    for (const char* word : {" Tarvio", " abre", " agenda", " e", " Zé", " hello", " world", " mundo"})
        words.push_back(testing::wordToken(word));
    auto recipe = testing::sayingModel(words, kind.first);
    recipe.kind = kind.second;
    testing::writeModel(file, recipe);
}

// Child mode: one model file, every stage.
int measure(const fs::path& file, int repeat)
{
    Clock start;
    auto model = whisper::WhisperModel::load(whisper::GgmlFile::open(file));
    double loadWall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count();
    double loadProcessor = Clock::processorNow() - start.processor;

    const auto samples = commandSamples();
    whisper::DecodingOptions options;
    options.temperatureFallback = false;
    // The whole command first, so that the peak is what a loaded model and
    // one request cost, not the stage results kept below.
    std::string text;
    Lap whole = best(repeat, [&] { text = whisper::transcribeSamples(*model, samples, options); });
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);

    whisper::LogMel mel;
    Lap front = best(repeat, [&] { mel = whisper::logMelSpectrogram(samples, model->melFilters(), model->hyper().melBands, 2); });
    whisper::Matrix encoded;
    Lap encoder = best(repeat, [&] { encoded = model->encode(mel, 0); });
    whisper::CrossCache cross;
    Lap audioKeys = best(repeat, [&] { cross = model->crossAttention(encoded); });
    auto prompt = whisper::initialTokens(model->vocabulary(), model->hyper().textContext, options.language, {});
    whisper::WindowResult result;
    Lap decoder = best(repeat, [&] { result = whisper::decodeWindow(*model, cross, prompt, 0.0f, 0); });
    double fileMegabytes = static_cast<double>(fs::file_size(file)) / 1e6;
    double peakMegabytes = static_cast<double>(usage.ru_maxrss) * 1024.0 / 1e6;
    std::printf("%-10s %6.1f %6.1f %6.1f %5.2f | %5.3f %5.3f | %5.3f %5.3f | %5.3f %5.3f | %5.3f %5.3f | %3zu %5.3f %5.3f | "
                "%5.3f %5.3f\n",
        file.stem().c_str(), fileMegabytes, peakMegabytes, 1.3 * fileMegabytes + 100, peakMegabytes / fileMegabytes,
        loadWall, loadProcessor, front.wall, front.processor, encoder.wall, encoder.processor, audioKeys.wall,
        audioKeys.processor, result.tokens.size() + 1, decoder.wall, decoder.processor, whole.wall, whole.processor);
    return text.empty() ? 1 : 0;
}

}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 4 && std::string(argv[1]) == "--measure")
        return measure(argv[2], std::stoi(argv[3]));
    auto all = recipes();
    if (argc == 4 && std::string(argv[1]) == "--write" && all.count(argv[2])) {
        write(all[argv[2]], argv[3]);
        return 0;
    }
    int repeat = 3;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        std::string argument = argv[i];
        if (argument == "--repeat" && i + 1 < argc)
            repeat = std::stoi(argv[++i]);
        else
            names.push_back(argument);
    }
    if (names.empty()) {
        for (const auto& [name, recipe] : all)
            names.push_back(name);
    }
    fs::path scratch = fs::temp_directory_path() / ("whisper-speed-" + std::to_string(getpid()));
    fs::create_directories(scratch);
    std::string self = fs::canonical("/proc/self/exe").string();
    std::printf("# seconds as wall and processor time, best of %d; sizes in MB (10^6 bytes); peak after loading and one command; decoding: tokens fed and time\n", repeat);
    std::printf("%-10s %6s %6s %6s %5s | %-11s | %-11s | %-11s | %-11s | %-15s | %s\n", "model", "file", "peak", "goal",
        "ratio", "load", "log-mel", "encoder", "audio k/v", "decoding", "3 s command");
    int failures = 0;
    for (const auto& name : names) {
        auto found = all.find(name);
        if (found == all.end()) {
            std::cerr << "unknown model " << name << "\n";
            return 2;
        }
        fs::path file = scratch / (name + ".bin");
        write(found->second, file);
        pid_t child = fork();
        if (child == 0) {
            execl(self.c_str(), self.c_str(), "--measure", file.c_str(), std::to_string(repeat).c_str(), nullptr);
            _exit(127);
        }
        int status = 0;
        waitpid(child, &status, 0);
        failures += WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : 1;
        fs::remove(file);
    }
    fs::remove_all(scratch);
    return failures == 0 ? 0 : 1;
}
