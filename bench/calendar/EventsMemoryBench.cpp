// Peak memory of one "calendar.events" answer against the answer's size:
// a few daily series since 1900, asked for 1900 to 2100, through the helper.
//
//   calendar_memory_bench [series]   (default 5 series, about 365,000 events)

#include "support/HelperProcess.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

using namespace tarvio;
using tarvio::testing::HelperProcess;

namespace {

long statusKilobytes(pid_t pid, const std::string& field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    }
    return -1;
}

}

int main(int argc, char** argv)
{
    int series = argc > 1 ? std::atoi(argv[1]) : 5;
    std::string folder = "/tmp/tarvio-memory-bench.XXXXXX";
    if (!::mkdtemp(folder.data()))
        return 1;
    std::string calendar = folder + "/tarvio/calendars/bench";
    std::filesystem::create_directories(calendar);
    std::filesystem::create_directories(folder + "/tarvio/reminders/lembretes");
    std::ofstream(calendar + "/displayname") << "Bench\n";
    for (int i = 0; i < series; ++i) {
        std::ofstream(calendar + "/daily-" + std::to_string(i) + ".ics")
            << "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\nBEGIN:VEVENT\r\nUID:daily-" << i
            << "\r\nSUMMARY:Reunião diária " << i << "\r\nLOCATION:Sala " << i
            << "\r\nDTSTART;TZID=America/Sao_Paulo:19000101T0900" << (10 + i)
            << "\r\nDURATION:PT30M\r\nRRULE:FREQ=DAILY\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n";
    }

    HelperProcess helper {{{"XDG_DATA_HOME", folder}, {"TZ", "America/Sao_Paulo"}}};
    helper.call("calendar.events", {{"from", "2026-01-01T00:00:00Z"}, {"to", "2026-01-02T00:00:00Z"}});
    long idle = statusKilobytes(helper.pid(), "VmRSS");
    long peakBefore = statusKilobytes(helper.pid(), "VmHWM");
    helper.send(Json {{"id", 1}, {"method", "calendar.events"},
                    {"params", {{"from", "1900-01-01T00:00:00Z"}, {"to", "2100-01-01T00:00:00Z"}}}}
                    .dump()
        + "\n");
    auto line = helper.readLine(std::chrono::minutes(10));
    long peak = statusKilobytes(helper.pid(), "VmHWM");
    long after = statusKilobytes(helper.pid(), "VmRSS");
    size_t answer = line ? line->size() : 0;
    size_t events = line ? Json::parse(*line)["result"].size() : 0;
    helper.finish();
    std::filesystem::remove_all(folder);

    std::printf("calendar.events 1900-2100: %zu events, answer %.1f MB\n", events, answer / 1048576.0);
    std::printf("helper resident: idle %.1f MB, peak %.1f MB (before the request %.1f MB), after %.1f MB\n",
        idle / 1024.0, peak / 1024.0, peakBefore / 1024.0, after / 1024.0);
    std::printf("peak growth over the answer's size: %.2fx (goal: a small multiple)\n",
        (peak - idle) * 1024.0 / static_cast<double>(answer ? answer : 1));
    return 0;
}
