// Times "calendar.events" through the helper on a generated store of 10,000
// events, cold (first request of a fresh process) and warm (repeated), beside
// `khal list` on the same folder, and reports the helper's resident size.
//
//   calendar_bench [events] [folder]   (default 10000 events in a temporary
//                                       folder; a given folder is kept)

#include "BenchEvents.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace tarvio;
using namespace tarvio::bench;

namespace {

void write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

void generate(const std::string& root, int count)
{
    std::string calendar = root + "/calendars/bench";
    std::filesystem::create_directories(calendar);
    std::filesystem::create_directories(root + "/reminders/lembretes");
    write(calendar + "/displayname", "Bench\n");
    write(calendar + "/color", "#336699\n");
    write(root + "/reminders/lembretes/displayname", "Lembretes\n");
    write(root + "/default-calendar", "bench\n");
    write(root + "/default-list", "lembretes\n");
    int i = 0;
    for (const auto& event : benchEvents(count, true))
        write(calendar + "/bench-" + std::to_string(i++) + ".ics", calendarText(event));
}

struct Timing {
    double cold = 0;
    double warm = 0;
    size_t events = 0;
};

Timing timeHelper(const std::string& dataHome, const Json& range, long& residentKilobytes)
{
    auto measured = timeEvents({{"XDG_DATA_HOME", dataHome}, {"TZ", zone}}, range);
    residentKilobytes = measured.residentKilobytes;
    return {measured.cold, measured.warm, measured.firstAnswer ? Json::parse(*measured.firstAnswer)["result"].size() : 0};
}

double timeCommand(const std::string& command)
{
    auto start = Clock::now();
    int status = std::system(command.c_str());
    double elapsed = milliseconds(Clock::now() - start);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? elapsed : -1;
}

// Cold: khal's first run on a fresh cache of its own; warm: the median of three more.
Timing timeKhal(const std::string& folder, const std::string& store, const std::string& range, const std::string& cache)
{
    std::string config = folder + "/khal.conf";
    write(config, "[calendars]\n[[bench]]\npath = " + store + "/calendars/bench\ntype = calendar\n[locale]\n"
        "dateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\ntimeformat = %H:%M\n"
        "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\nlocal_timezone = " + zone + "\ndefault_timezone = " + zone + "\n");
    std::string command = "HOME=" + folder + " XDG_DATA_HOME=" + folder + "/" + cache + " TZ=" + zone + " khal -c " + config
        + " list " + range + " >/dev/null 2>&1";
    Timing timing;
    timing.cold = timeCommand(command);
    std::vector<double> repeats;
    for (int i = 0; i < 3; ++i)
        repeats.push_back(timeCommand(command));
    std::sort(repeats.begin(), repeats.end());
    timing.warm = repeats[1];
    return timing;
}

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return ::remove(path);
}

}

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    bool keep = argc > 2;
    std::string folder = keep ? argv[2] : "/tmp/tarvio-calendar-bench.XXXXXX";
    if (keep)
        std::filesystem::create_directories(folder);
    else if (!::mkdtemp(folder.data()))
        return 1;
    std::string store = folder + "/share/tarvio";
    auto start = Clock::now();
    generate(store, count);
    std::printf("generated %d events in %.0f ms (%s)\n", count, milliseconds(Clock::now() - start), store.c_str());

    if (std::getenv("CALENDAR_BENCH_GENERATE_ONLY"))
        return 0;
    long weekResident = 0, yearResident = 0;
    Timing helperWeek = timeHelper(folder + "/share", week, weekResident);
    Timing helperYear = timeHelper(folder + "/share", year, yearResident);
    Timing khalWeek = timeKhal(folder, store, "2026-06-01 7d", "khal-week");
    Timing khalYear = timeKhal(folder, store, "2026-01-01 365d", "khal-year");

    std::printf("\n%-22s %10s %10s %10s\n", "calendar.events", "cold ms", "warm ms", "events");
    std::printf("%-22s %10.1f %10.2f %10zu\n", "helper, one week", helperWeek.cold, helperWeek.warm, helperWeek.events);
    std::printf("%-22s %10.1f %10.2f %10zu\n", "helper, one year", helperYear.cold, helperYear.warm, helperYear.events);
    std::printf("%-22s %10.1f %10.1f\n", "khal list, one week", khalWeek.cold, khalWeek.warm);
    std::printf("%-22s %10.1f %10.1f\n", "khal list, one year", khalYear.cold, khalYear.warm);
    std::printf("\nresident size with all events loaded: %.1f MB\n", yearResident / 1024.0);
    std::printf("warm week %.2f ms (goal < 10), warm year %.1f ms (goal < 150)\n", helperWeek.warm, helperYear.warm);
    if (khalWeek.warm > 0 && khalYear.warm > 0)
        std::printf("faster than khal warm: week %.0fx, year %.0fx (goal >= 10x)\n", khalWeek.warm / helperWeek.warm,
            khalYear.warm / helperYear.warm);

    if (!keep)
        ::nftw(folder.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
    return 0;
}
