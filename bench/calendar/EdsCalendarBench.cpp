// Times "calendar.events" through the helper on Evolution Data Server: 10,000
// events (some weekly series, some all-day) in an EDS local calendar on a
// private session bus, for a week and a year, first request (connection
// included) and repeated, beside a python3-gi EDS client doing the same query
// in the same run, and reports the helper's resident size.
//
//   calendar_eds_bench [events]

#include "BenchEvents.h"
#include "calendar/eds/EdsSession.h"
#include "channel/Dates.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <set>
#include <tuple>
#include <string>
#include <vector>

using namespace tarvio;
using tarvio::testing::EdsSession;
using namespace tarvio::bench;

namespace {

// The same ranges in epoch seconds, for the python client.
const char* const weekSeconds = "1780272000 1780876800";
const char* const yearSeconds = "1767225600 1798761600";

using Occurrence = std::tuple<std::string, std::string, std::string>;

struct Timing {
    double cold = 0;
    double warm = 0;
    size_t events = 0;
    std::multiset<Occurrence> occurrences;
};

Timing timeHelper(const EdsSession& eds, const Json& range, long& residentKilobytes)
{
    auto measured = timeEvents(eds.environment, range);
    residentKilobytes = measured.residentKilobytes;
    Timing timing;
    timing.cold = measured.cold;
    timing.warm = measured.warm;
    if (measured.firstAnswer) {
        Json answer = Json::parse(*measured.firstAnswer);
        for (const auto& event : answer["result"])
            timing.occurrences.emplace(event["title"], event["start"], event["end"]);
    }
    timing.events = timing.occurrences.size();
    return timing;
}

// The python client's own timing of generate_instances_sync: the first call
// and the median of the repeats, on one connection.
Timing timePython(const EdsSession& eds, const std::string& range)
{
    auto answer = Json::parse(eds.client("instances " + range + " 6"));
    std::vector<double> seconds = answer["seconds"];
    Timing timing;
    timing.cold = seconds.front() * 1000;
    timing.warm = median(std::vector<double>(seconds.begin() + 1, seconds.end())) * 1000;
    for (const auto& instance : answer["instances"]) {
        auto iso = [](const Json& seconds) { return formatDate(Instant(std::chrono::seconds(seconds.get<long>()))); };
        timing.occurrences.emplace(instance["title"], iso(instance["start"]), iso(instance["end"]));
    }
    timing.events = timing.occurrences.size();
    return timing;
}

}

int main(int argc, char** argv)
{
    int count = argc > 1 ? std::atoi(argv[1]) : 10000;
    EdsSession eds;
    std::string file = eds.path("bench.ics");
    std::string events;
    for (const auto& event : benchEvents(count, false))
        events += event;
    std::ofstream(file, std::ios::binary) << calendarText(events);
    auto start = Clock::now();
    std::string source = eds.client("add-source events Bench '#336699'");
    eds.client("receive " + source + " events " + file);
    std::printf("stored %d events in EDS in %.0f ms\n", count, milliseconds(Clock::now() - start));

    long weekResident = 0, yearResident = 0;
    Timing helperWeek = timeHelper(eds, week, weekResident);
    Timing helperYear = timeHelper(eds, year, yearResident);
    Timing pythonWeek = timePython(eds, weekSeconds);
    Timing pythonYear = timePython(eds, yearSeconds);

    std::printf("\n%-26s %10s %10s %10s\n", "calendar.events on EDS", "first ms", "warm ms", "events");
    std::printf("%-26s %10.1f %10.2f %10zu\n", "helper, one week", helperWeek.cold, helperWeek.warm, helperWeek.events);
    std::printf("%-26s %10.1f %10.2f %10zu\n", "helper, one year", helperYear.cold, helperYear.warm, helperYear.events);
    std::printf("%-26s %10.1f %10.2f %10zu\n", "python3-gi client, week", pythonWeek.cold, pythonWeek.warm, pythonWeek.events);
    std::printf("%-26s %10.1f %10.2f %10zu\n", "python3-gi client, year", pythonYear.cold, pythonYear.warm, pythonYear.events);
    std::printf("\nresident size with all events loaded: %.1f MB (goal < 90)\n", yearResident / 1024.0);
    std::printf("first request %.0f ms (goal < 1000); warm week %.2f ms (goal < 10), warm year %.1f ms (goal < 150)\n",
        std::max(helperWeek.cold, helperYear.cold), helperWeek.warm, helperYear.warm);
    std::printf("faster than the python client warm: week %.0fx, year %.0fx (goal >= 10x)\n", pythonWeek.warm / helperWeek.warm,
        pythonYear.warm / helperYear.warm);
    // EDS also lists the all-day events of the date (in UTC) that the range ends on.
    for (auto [name, helper, python] : {std::tuple {"week", &helperWeek, &pythonWeek}, std::tuple {"year", &helperYear, &pythonYear}}) {
        std::vector<Occurrence> onlyHelper, onlyPython;
        std::set_difference(helper->occurrences.begin(), helper->occurrences.end(), python->occurrences.begin(),
            python->occurrences.end(), std::back_inserter(onlyHelper));
        std::set_difference(python->occurrences.begin(), python->occurrences.end(), helper->occurrences.begin(),
            helper->occurrences.end(), std::back_inserter(onlyPython));
        std::printf("%s: %zu occurrences only in the helper's answer, %zu only in the client's", name, onlyHelper.size(),
            onlyPython.size());
        for (size_t i = 0; i < std::min<size_t>(onlyPython.size(), 5); ++i)
            std::printf("; %s %s", std::get<0>(onlyPython[i]).c_str(), std::get<1>(onlyPython[i]).c_str());
        std::printf("\n");
    }
    return 0;
}
