// Records both sources through the helper and, at the same time, the same
// job with ffmpeg (both server sources, amix, 16 kHz mono 16-bit), then
// reports the CPU seconds of each and how far each file's sample count is
// from 16000 per elapsed second. `--seconds=60` runs the full minute; the
// default is 10 s.

#include "recording/WavFile.h"
#include "recording/pulse/PulseServer.h"
#include "support/HelperProcess.h"

#include <benchmark/benchmark.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace tarvio;
using namespace tarvio::testing;
using SteadyClock = std::chrono::steady_clock;

namespace {

double seconds = 10;

double elapsedSince(SteadyClock::time_point start)
{
    return std::chrono::duration<double>(SteadyClock::now() - start).count();
}

// User plus system CPU of a running process, all its threads.
double cpuSecondsOf(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(in)), {});
    size_t end = text.rfind(')');
    if (end == std::string::npos)
        return 0;
    std::istringstream fields(text.substr(end + 2));
    std::string field;
    unsigned long long user = 0, system = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14)
            user = std::stoull(field);
        if (index == 15) {
            system = std::stoull(field);
            break;
        }
    }
    return double(user + system) / double(sysconf(_SC_CLK_TCK));
}

int64_t samplesIn(const std::string& path)
{
    auto size = std::filesystem::exists(path) ? std::filesystem::file_size(path) : 0;
    return size > 44 ? int64_t(size - 44) / 2 : 0;
}

struct Run {
    double cpu = 0;
    double elapsed = 0;
    int64_t samples = 0;
    double drift() const { return double(samples) - 16000 * elapsed; }
};

pid_t startFfmpeg(const PulseServer& server, const std::string& output)
{
    std::vector<std::string> arguments {"ffmpeg", "-nostdin", "-hide_banner", "-loglevel", "error", "-y",
        "-f", "pulse", "-i", "testmic", "-f", "pulse", "-i", "testsink.monitor",
        "-filter_complex", "amix=inputs=2:duration=longest,aresample=16000",
        "-ac", "1", "-acodec", "pcm_s16le", output};
    std::vector<std::string> environment;
    for (char** entry = environ; *entry; ++entry)
        environment.emplace_back(*entry);
    for (const auto& [name, value] : server.environment())
        environment.push_back(name + "=" + value);
    std::vector<char*> argv, envp;
    for (auto& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    for (auto& variable : environment)
        envp.push_back(variable.data());
    envp.push_back(nullptr);
    pid_t child = fork();
    if (child == 0) {
        execvpe(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    return child;
}

void liveRecording(benchmark::State& state)
{
    for (auto _ : state) {
        PulseServer server;
        TemporaryFolder folder;
        const std::string helperFile = (folder / "helper.wav").string();
        const std::string ffmpegFile = (folder / "ffmpeg.wav").string();
        writeTone((folder / "call.wav").string(), 1000, seconds + 5);
        Player player(server, (folder / "call.wav").string());

        HelperProcess helper(server.environment());
        Run helperRun, ffmpegRun;

        auto ffmpegStart = SteadyClock::now();
        pid_t ffmpeg = startFfmpeg(server, ffmpegFile);
        Json started = helper.call("recording.start", {{"path", helperFile}});
        auto helperStart = SteadyClock::now();
        if (!started.contains("result")) {
            state.SkipWithError(started.dump().c_str());
            return;
        }
        std::this_thread::sleep_for(std::chrono::duration<double>(seconds));

        helperRun.elapsed = elapsedSince(helperStart);
        helper.call("recording.stop");
        helperRun.cpu = cpuSecondsOf(helper.pid());
        helper.finish();
        helperRun.samples = samplesIn(helperFile);

        ::kill(ffmpeg, SIGINT);
        ffmpegRun.elapsed = elapsedSince(ffmpegStart);
        int status = 0;
        rusage usage {};
        wait4(ffmpeg, &status, 0, &usage);
        ffmpegRun.cpu = double(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
            + double(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
        ffmpegRun.samples = samplesIn(ffmpegFile);

        state.SetIterationTime(helperRun.elapsed);
        state.counters["helper_cpu_s"] = helperRun.cpu;
        state.counters["ffmpeg_cpu_s"] = ffmpegRun.cpu;
        state.counters["cpu_ratio"] = ffmpegRun.cpu > 0 ? helperRun.cpu / ffmpegRun.cpu : 0;
        state.counters["helper_drift_samples"] = helperRun.drift();
        state.counters["ffmpeg_drift_samples"] = ffmpegRun.drift();
        std::printf("%.0f s of both sources\n"
                    "  helper: %.3f CPU s, %lld samples in %.3f s, %+.0f samples from 16000/s\n"
                    "  ffmpeg: %.3f CPU s, %lld samples in %.3f s, %+.0f samples from 16000/s\n"
                    "  helper/ffmpeg CPU: %.2f (goal: at most 0.5); drift goal: within 1600 samples\n",
            seconds, helperRun.cpu, (long long)helperRun.samples, helperRun.elapsed, helperRun.drift(), ffmpegRun.cpu,
            (long long)ffmpegRun.samples, ffmpegRun.elapsed, ffmpegRun.drift(),
            ffmpegRun.cpu > 0 ? helperRun.cpu / ffmpegRun.cpu : 0);
    }
}

BENCHMARK(liveRecording)->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

}

int main(int argc, char** argv)
{
    std::vector<char*> rest;
    for (int index = 0; index < argc; ++index) {
        if (std::strncmp(argv[index], "--seconds=", 10) == 0) {
            seconds = std::atof(argv[index] + 10);
            continue;
        }
        rest.push_back(argv[index]);
    }
    int count = int(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
}
