// The helper's resident size around large speech requests: idle with the
// speech module and the English model loaded, the peak and what stays after
// a refused 160 MB line, and after a finished 290 s transcription.

#include "support/HelperProcess.h"

#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

using namespace tarvio;
using tarvio::testing::HelperProcess;

namespace {

// VmRSS or VmHWM of a process, in megabytes.
double statusMegabytes(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0)
            return std::stod(line.substr(field.size() + 1)) / 1024;
    }
    return -1;
}

// Base64 of `samples` zero floats: "AAAA" per three bytes.
std::string silence(size_t samples)
{
    size_t bytes = samples * 4;
    std::string text(bytes / 3 * 4, 'A');
    if (bytes % 3 == 1)
        text += "AA==";
    if (bytes % 3 == 2)
        text += "AAA=";
    return text;
}

void report(const char* moment, pid_t pid)
{
    std::printf("%-34s resident %7.1f MB   peak so far %7.1f MB\n", moment, statusMegabytes(pid, "VmRSS"),
        statusMegabytes(pid, "VmHWM"));
}

}

int main()
{
    HelperProcess helper;
    helper.call("speech.transcribe", {{"audioBase64", silence(16000)}, {"locale", "en-US"}});
    report("idle, model loaded", helper.pid());

    // 160 MB of Base64: 7500 s at 16 kHz, refused from its length.
    Json refused = helper.call("speech.transcribe", {{"audioBase64", silence(30'000'000)}, {"locale", "en-US"}});
    std::printf("160 MB line answered: %s\n", refused.dump().c_str());
    report("after the refused 160 MB line", helper.pid());

    Json finished = helper.call("speech.transcribe", {{"audioBase64", silence(16000 * 290)}, {"locale", "en-US"}});
    std::printf("290 s line answered: %s\n", finished.contains("result") ? "result" : finished.dump().c_str());
    report("after a finished 290 s request", helper.pid());

    helper.call("speech.transcribe", {{"audioBase64", silence(16000)}, {"locale", "en-US"}});
    report("after a 1 s request", helper.pid());
    return helper.finish() == 0 ? 0 : 1;
}
