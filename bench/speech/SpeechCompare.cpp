// For each test clip: time from request to answer through the helper, the
// first request (model load included) and repeated ones, beside
// pocketsphinx_continuous on the same file in the same run, and the word
// accuracy of both against the transcripts.

#include "TestClips.h"
#include "support/HelperProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <openssl/evp.h>
#include <fstream>
#include <sstream>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarvio;
using Clock = std::chrono::steady_clock;

namespace {

const std::string model = "/usr/share/pocketsphinx/model/en-us/";
constexpr int repeats = 3;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// CPU seconds (user and system) a running process has used: the machine is
// shared, so CPU time shows the work where wall time shows the wait.
double processCpuSeconds(pid_t pid)
{
    std::ifstream file("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double ticks = 0;
    for (int index = 3; index <= 15 && fields >> field; ++index) {
        if (index == 14 || index == 15)
            ticks += std::stod(field);
    }
    return ticks / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

double childrenCpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_CHILDREN, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec)
        + static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

std::string payload(const std::vector<int16_t>& samples)
{
    std::vector<float> floats(samples.size());
    for (size_t index = 0; index < samples.size(); ++index)
        floats[index] = static_cast<float>(samples[index]) / 32768.0f;
    size_t size = floats.size() * 4;
    std::string text(4 * ((size + 2) / 3) + 1, '\0');
    text.resize(static_cast<size_t>(EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
        reinterpret_cast<const unsigned char*>(floats.data()), static_cast<int>(size))));
    return text;
}

std::string continuousText(const std::string& clip, double& seconds, double& cpuSeconds)
{
    double cpuBefore = childrenCpuSeconds();
    std::string command = "pocketsphinx_continuous -hmm " + model + "en-us -lm " + model + "en-us.lm.bin -dict " + model
        + "cmudict-en-us.dict -infile '" + clip + "' -logfn /dev/null 2>/dev/null";
    auto start = Clock::now();
    FILE* pipe = ::popen(command.c_str(), "r");
    std::string output;
    char chunk[4096];
    for (size_t count; pipe && (count = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        output.append(chunk, count);
    if (pipe)
        ::pclose(pipe);
    seconds = secondsSince(start);
    cpuSeconds = childrenCpuSeconds() - cpuBefore;
    // One line per utterance it found.
    std::string text;
    for (const auto& word : bench::words(output))
        text += (text.empty() ? "" : " ") + word;
    return text;
}

}

int main()
{
    size_t totalWords = 0, helperErrors = 0, continuousErrors = 0;
    double audioSeconds = 0, firstSeconds = 0, repeatedSeconds = 0, continuousSeconds = 0;
    double firstCpuSeconds = 0, repeatedCpuSeconds = 0, continuousCpuSeconds = 0;
    std::printf("wall seconds (CPU seconds); rtf = repeated wall time / audio duration\n");
    std::printf("%-12s %6s | %-15s %-15s %6s | %-15s | helper text / pocketsphinx_continuous text\n", "clip", "audio",
        "helper first", "helper repeat", "rtf", "continuous");
    for (const auto& clip : bench::testClips()) {
        auto samples = bench::clipSamples(clip.path);
        double duration = static_cast<double>(samples.size()) / 16000.0;
        Json params = {{"audioBase64", payload(samples)}, {"sampleRate", 16000}, {"locale", "en-US"}};

        testing::HelperProcess helper;
        double cpuStart = processCpuSeconds(helper.pid());
        auto start = Clock::now();
        Json response = helper.call("speech.transcribe", params);
        double first = secondsSince(start);
        double firstCpu = processCpuSeconds(helper.pid()) - cpuStart;
        std::vector<double> times, cpuTimes;
        for (int round = 0; round < repeats; ++round) {
            cpuStart = processCpuSeconds(helper.pid());
            start = Clock::now();
            response = helper.call("speech.transcribe", params);
            times.push_back(secondsSince(start));
            cpuTimes.push_back(processCpuSeconds(helper.pid()) - cpuStart);
        }
        helper.finish();
        std::sort(times.begin(), times.end());
        std::sort(cpuTimes.begin(), cpuTimes.end());
        double repeated = times[times.size() / 2];
        double repeatedCpu = cpuTimes[cpuTimes.size() / 2];
        std::string text = response["result"].value("text", "(" + response.dump() + ")");

        double continuous = 0, continuousCpu = 0;
        std::string reference = continuousText(clip.path, continuous, continuousCpu);

        totalWords += bench::words(clip.transcript).size();
        helperErrors += bench::wordErrors(clip.transcript, text);
        continuousErrors += bench::wordErrors(clip.transcript, reference);
        audioSeconds += duration;
        firstSeconds += first;
        repeatedSeconds += repeated;
        continuousSeconds += continuous;
        firstCpuSeconds += firstCpu;
        repeatedCpuSeconds += repeatedCpu;
        continuousCpuSeconds += continuousCpu;
        std::string name = clip.path.substr(clip.path.find_last_of('/') + 1);
        std::printf("%-12.12s %5.2fs | %6.3f (%6.3f) %6.3f (%6.3f) %6.3f | %6.3f (%6.3f) | %s / %s\n", name.c_str(),
            duration, first, firstCpu, repeated, repeatedCpu, repeated / duration, continuous, continuousCpu, text.c_str(),
            reference.c_str());
    }
    auto accuracy = [&](size_t errors) { return 100.0 * (1.0 - double(errors) / double(totalWords)); };
    std::printf("\ntotal audio %.2f s: helper first %.3f s (CPU %.3f), repeated %.3f s (CPU %.3f, real-time factor "
                "%.3f wall, %.3f CPU), pocketsphinx_continuous %.3f s (CPU %.3f)\n",
        audioSeconds, firstSeconds, firstCpuSeconds, repeatedSeconds, repeatedCpuSeconds, repeatedSeconds / audioSeconds,
        repeatedCpuSeconds / audioSeconds, continuousSeconds, continuousCpuSeconds);
    std::printf("word accuracy: helper %.1f%%, pocketsphinx_continuous %.1f%% (%zu words)\n", accuracy(helperErrors),
        accuracy(continuousErrors), totalWords);
    return 0;
}
