// Our Whisper engine beside whisper.cpp's command-line tool, on the same
// generated model files (the tiny and base shapes) and the same espeak-ng
// clips: identical greedy transcripts, time per clip and peak resident size.
//
//   whisper_compare [--quick] <whisper.cpp build folder> [real model file ...]
//
// --quick: only the models that say known words, on one clip per language.
//
// With real model files (never in CI) it also reports word accuracy of both
// on the clips.

#include "speech/whisper/Transcriber.h"
#include "speech/whisper/GeneratedModel.h"

#include "TestClips.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using namespace tarvio;
namespace fs = std::filesystem;

struct Sentence {
    std::string language;
    std::string voice;
    std::string text;
};

const std::vector<Sentence> sentences = {
    {"pt", "pt-br", "abre a minha agenda de amanhã às nove horas"},
    {"pt", "pt-br", "lembra-me de ligar para o Zé"},
    {"en", "en-us", "open my calendar for tomorrow morning"},
    {"en", "en-us", "start recording the meeting now"},
};

struct Run {
    std::string output;
    double seconds = 0;
    // User and system time: steadier than wall time on a busy machine.
    double cpuSeconds = 0;
    long peakKilobytes = 0;
    int status = -1;
};

// Runs a command, its output collected, its wall time and peak size taken.
Run runCommand(const std::vector<std::string>& command)
{
    int pipeEnds[2];
    if (pipe(pipeEnds) != 0)
        return {};
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        int devnull = ::open("/dev/null", O_WRONLY);
        dup2(devnull, 2);
        close(pipeEnds[0]);
        std::vector<char*> arguments;
        for (const auto& argument : command)
            arguments.push_back(const_cast<char*>(argument.c_str()));
        arguments.push_back(nullptr);
        execv(arguments[0], arguments.data());
        _exit(127);
    }
    close(pipeEnds[1]);
    Run run;
    char chunk[4096];
    ssize_t got;
    while ((got = read(pipeEnds[0], chunk, sizeof chunk)) > 0)
        run.output.append(chunk, static_cast<size_t>(got));
    close(pipeEnds[0]);
    int status = 0;
    rusage usage{};
    wait4(child, &status, 0, &usage);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.peakKilobytes = usage.ru_maxrss;
    auto seconds = [](const timeval& time) { return static_cast<double>(time.tv_sec) + time.tv_usec / 1e6; };
    run.cpuSeconds = seconds(usage.ru_utime) + seconds(usage.ru_stime);
    run.status = status;
    return run;
}

std::vector<float> readWav16(const fs::path& path)
{
    std::vector<float> samples;
    for (int16_t sample : bench::clipSamples(path.string()))
        samples.push_back(static_cast<float>(sample) / 32768.0f);
    return samples;
}

std::string trimmed(std::string text)
{
    auto first = text.find_first_not_of(" \t\r\n");
    auto last = text.find_last_not_of(" \t\r\n");
    return first == std::string::npos ? std::string() : text.substr(first, last - first + 1);
}

// Child mode: load, transcribe, print "<load s> <transcribe s>\n<text>".
int runOurs(const std::string& model, const std::string& clip, const std::string& language)
{
    auto start = std::chrono::steady_clock::now();
    auto loaded = whisper::WhisperModel::load(whisper::GgmlFile::open(model));
    auto loadedAt = std::chrono::steady_clock::now();
    whisper::DecodingOptions options;
    options.language = language;
    options.temperatureFallback = false;
    std::string text = whisper::transcribeSamples(*loaded, readWav16(clip), options);
    auto end = std::chrono::steady_clock::now();
    std::printf("%.4f %.4f\n%s", std::chrono::duration<double>(loadedAt - start).count(),
        std::chrono::duration<double>(end - loadedAt).count(), trimmed(text).c_str());
    return 0;
}

std::string lowerWords(std::string text)
{
    std::string out;
    for (unsigned char c : text) {
        if (std::isalpha(c) || c >= 0x80 || c == ' ' || c == '\'')
            out += static_cast<char>(std::tolower(c));
    }
    return out;
}

}

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc == 5 && std::string(argv[1]) == "--ours")
        return runOurs(argv[2], argv[3], argv[4]);
    bool quick = argc > 1 && std::string(argv[1]) == "--quick";
    if (quick) {
        --argc;
        ++argv;
    }
    if (argc < 2) {
        std::cerr << "usage: whisper_compare [--quick] <whisper.cpp build folder> [real model file ...]\n";
        return 2;
    }
    fs::path cli = fs::path(argv[1]) / "bin" / "whisper-cli";
    if (!fs::exists(cli)) {
        std::cerr << "no " << cli << "\n";
        return 2;
    }
    std::string self = fs::canonical("/proc/self/exe").string();
    fs::path scratch = fs::temp_directory_path() / ("whisper-compare-" + std::to_string(getpid()));
    fs::create_directories(scratch);

    std::vector<fs::path> clips;
    for (size_t i = 0; i < sentences.size(); ++i) {
        fs::path raw = scratch / ("clip" + std::to_string(i) + "-raw.wav");
        fs::path clip = scratch / ("clip" + std::to_string(i) + ".wav");
        runCommand({"/usr/bin/espeak-ng", "-v", sentences[i].voice, "-w", raw.string(), sentences[i].text});
        runCommand({"/usr/bin/sox", raw.string(), "-r", "16000", "-c", "1", "-b", "16", clip.string()});
        clips.push_back(clip);
    }

    struct ModelCase {
        std::string name;
        testing::ModelRecipe recipe;
    };
    auto saying = [](testing::ModelShape shape) {
        std::vector<int> words;
        for (const char* word : {" Tarvio", " abre", " agenda", " e", " Zé", " hello", " world", " mundo"})
            words.push_back(testing::wordToken(word));
        return testing::sayingModel(words, shape);
    };
    // Random weights test the whole network on tiny (their decoder rambles
    // to the token limit); models that say known words cost what a real
    // command costs, and time both shapes.
    std::vector<ModelCase> models;
    testing::ModelRecipe random;
    random.shape = testing::tinyShape();
    random.kind = whisper::TensorKind::f16;
    random.scale = 0.05f;
    if (!quick)
        models.push_back({"tiny-random-f16", random});
    for (auto [name, shape] : {std::pair{"tiny", testing::tinyShape()}, std::pair{"base", testing::baseShape()}}) {
        auto speaking = saying(shape);
        speaking.kind = whisper::TensorKind::f16;
        models.push_back({std::string(name) + "-saying-f16", speaking});
    }

    int mismatches = 0;
    // ours s: one transcription with the model loaded (what a request
    // costs); ratio: our load plus transcription over whisper-cli's run, by
    // wall time and by processor time.
    std::printf("%-16s %-4s %7s %7s %7s %6s %7s %7s %6s %8s %8s %8s  %s\n", "model", "clip", "ours s", "load s",
        "cpp s", "ratio", "ours cpu", "cpp cpu", "ratio", "ours MB", "cpp MB", "file MB", "transcripts");
    for (const auto& model : models) {
        fs::path file = scratch / (model.name + ".bin");
        testing::writeModel(file, model.recipe);
        double fileMegabytes = static_cast<double>(fs::file_size(file)) / 1e6;
        for (size_t i = 0; i < clips.size(); ++i) {
            if (quick && i % 2)
                continue;
            const auto& language = sentences[i].language;
            Run ours = runCommand({self, "--ours", file.string(), clips[i].string(), language});
            Run theirs = runCommand({cli.string(), "-m", file.string(), "-f", clips[i].string(), "-t", "2", "-l",
                language, "-nt", "-nf", "-np", "-bs", "1", "-bo", "1"});
            std::istringstream lines(ours.output);
            double load = 0;
            double transcribe = 0;
            lines >> load >> transcribe;
            std::string ourText;
            std::getline(lines, ourText);
            std::getline(lines, ourText, '\0');
            std::string theirText = trimmed(theirs.output);
            bool same = ourText == theirText;
            mismatches += same ? 0 : 1;
            std::printf("%-16s %-4zu %7.3f %7.3f %7.3f %6.2f %7.3f %7.3f %6.2f %8.1f %8.1f %8.1f  %s\n",
                model.name.c_str(), i, transcribe, load, theirs.seconds, (load + transcribe) / theirs.seconds,
                ours.cpuSeconds, theirs.cpuSeconds, ours.cpuSeconds / theirs.cpuSeconds, ours.peakKilobytes / 1024.0,
                theirs.peakKilobytes / 1024.0, fileMegabytes, same ? "identical" : "DIFFERENT");
            if (!same)
                std::printf("    ours: %.120s\n    cpp:  %.120s\n", ourText.c_str(), theirText.c_str());
        }
        fs::remove(file);
    }

    for (int index = 2; index < argc; ++index) {
        size_t ourErrors = 0;
        size_t theirErrors = 0;
        size_t total = 0;
        for (size_t i = 0; i < clips.size(); ++i) {
            Run ours = runCommand({self, "--ours", argv[index], clips[i].string(), sentences[i].language});
            Run theirs = runCommand({cli.string(), "-m", argv[index], "-f", clips[i].string(), "-t", "2", "-l",
                sentences[i].language, "-nt", "-np", "-bs", "1", "-bo", "1"});
            std::string ourText = ours.output.substr(ours.output.find('\n') + 1);
            std::string reference = lowerWords(sentences[i].text);
            ourErrors += bench::wordErrors(reference, lowerWords(ourText));
            theirErrors += bench::wordErrors(reference, lowerWords(trimmed(theirs.output)));
            total += bench::words(reference).size();
        }
        std::printf("%s: word accuracy ours %.1f%%, whisper.cpp %.1f%%\n", argv[index],
            100.0 * (1.0 - static_cast<double>(ourErrors) / total), 100.0 * (1.0 - static_cast<double>(theirErrors) / total));
    }
    fs::remove_all(scratch);
    return mismatches == 0 ? 0 : 1;
}
