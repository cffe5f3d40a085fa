// Times "calendar.events" through the helper on a generated store of 10,000
// events, cold (first request of a fresh process) and warm (repeated), beside
// `khal list` on the same folder, and reports the helper's resident size.
//
//   calendar_bench [events] [folder]   (default 10000 events in a temporary
//                                       folder; a given folder is kept)

#include "support/HelperProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ftw.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <vector>

using namespace tarvio;
using tarvio::testing::HelperProcess;
using Clock = std::chrono::steady_clock;

namespace {

constexpr const char* zone = "America/Sao_Paulo";
const Json week = {{"from", "2026-06-01T00:00:00Z"}, {"to", "2026-06-08T00:00:00Z"}};
const Json year = {{"from", "2026-01-01T00:00:00Z"}, {"to", "2027-01-01T00:00:00Z"}};

void write(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string stamp(int yearValue, int month, int day, int hour, int minute, bool utc)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d00%s", yearValue, month, day, hour, minute, utc ? "Z" : "");
    return text;
}

// Two years of events: mostly one-hour meetings (half in UTC, half with a
// TZID), 5% all-day, 5% weekly series of ten.
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
    std::mt19937 random(42);
    for (int i = 0; i < count; ++i) {
        int yearValue = 2026 + static_cast<int>(random() % 2);
        int month = 1 + static_cast<int>(random() % 12);
        int day = 1 + static_cast<int>(random() % 27);
        int hour = 7 + static_cast<int>(random() % 12);
        int minute = static_cast<int>(random() % 4) * 15;
        int kind = static_cast<int>(random() % 20);
        std::string uid = "bench-" + std::to_string(i);
        std::string body = "BEGIN:VEVENT\r\nUID:" + uid + "\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:Evento " + std::to_string(i)
            + "\r\nLOCATION:Sala " + std::to_string(i % 17) + "\r\nDESCRIPTION:Pauta do encontro número " + std::to_string(i) + "\r\n";
        if (kind == 0) {
            char date[16];
            std::snprintf(date, sizeof date, "%04d%02d%02d", yearValue, month, day);
            char next[16];
            std::snprintf(next, sizeof next, "%04d%02d%02d", yearValue, month, day + 1);
            body += std::string("DTSTART;VALUE=DATE:") + date + "\r\nDTEND;VALUE=DATE:" + next + "\r\n";
        } else if (kind == 1) {
            body += "DTSTART;TZID=" + std::string(zone) + ":" + stamp(yearValue, month, day, hour, minute, false) + "\r\nDTEND;TZID="
                + zone + ":" + stamp(yearValue, month, day, hour + 1, minute, false) + "\r\nRRULE:FREQ=WEEKLY;COUNT=10\r\n";
        } else if (kind % 2) {
            body += "DTSTART:" + stamp(yearValue, month, day, hour, minute, true) + "\r\nDTEND:"
                + stamp(yearValue, month, day, hour + 1, minute, true) + "\r\n";
        } else {
            body += "DTSTART;TZID=" + std::string(zone) + ":" + stamp(yearValue, month, day, hour, minute, false) + "\r\nDTEND;TZID="
                + zone + ":" + stamp(yearValue, month, day, hour + 1, minute, false) + "\r\n";
        }
        body += "END:VEVENT\r\n";
        write(calendar + "/" + uid + ".ics",
            "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n" + body + "END:VCALENDAR\r\n");
    }
}

double milliseconds(Clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

struct Timing {
    double cold = 0;
    double warm = 0;
    size_t events = 0;
};

// Cold: the first request of a fresh helper. Warm: the median of repeats.
Timing timeHelper(const std::string& dataHome, const Json& range, long& residentKilobytes)
{
    HelperProcess helper {{{"XDG_DATA_HOME", dataHome}, {"TZ", zone}}};
    helper.call("ping");
    // Timed from the request's write to the response line's arrival; the
    // response is parsed afterwards, outside the timing.
    std::string request = Json {{"id", 1}, {"method", "calendar.events"}, {"params", range}}.dump() + "\n";
    Timing timing;
    auto start = Clock::now();
    helper.send(request);
    auto first = helper.readLine();
    timing.cold = milliseconds(Clock::now() - start);
    timing.events = first ? Json::parse(*first)["result"].size() : 0;
    std::vector<double> repeats;
    for (int i = 0; i < 15; ++i) {
        start = Clock::now();
        helper.send(request);
        helper.readLine();
        repeats.push_back(milliseconds(Clock::now() - start));
    }
    std::sort(repeats.begin(), repeats.end());
    timing.warm = repeats[repeats.size() / 2];
    std::ifstream status("/proc/" + std::to_string(helper.pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            residentKilobytes = std::atol(line.c_str() + 6);
    }
    helper.finish();
    return timing;
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
