#pragma once

// What the calendar benchmarks share: the generated events, the week and
// year asked for, and the timing of "calendar.events" through one helper.

#include "support/HelperProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace tarvio::bench {

using Clock = std::chrono::steady_clock;

inline constexpr const char* zone = "America/Sao_Paulo";
inline const Json week = {{"from", "2026-06-01T00:00:00Z"}, {"to", "2026-06-08T00:00:00Z"}};
inline const Json year = {{"from", "2026-01-01T00:00:00Z"}, {"to", "2027-01-01T00:00:00Z"}};

inline std::string stamp(int yearValue, int month, int day, int hour, int minute, bool utc)
{
    char text[32];
    std::snprintf(text, sizeof text, "%04d%02d%02dT%02d%02d00%s", yearValue, month, day, hour, minute, utc ? "Z" : "");
    return text;
}

// Two years of events, UIDs "bench-<i>": mostly one-hour meetings (half in
// UTC, half with a TZID), 5% all-day, 5% weekly series of ten. Each is one
// VEVENT; `withNotes` gives each a DESCRIPTION.
inline std::vector<std::string> benchEvents(int count, bool withNotes)
{
    std::vector<std::string> events;
    std::mt19937 random(42);
    const std::string zoneName = zone;
    for (int i = 0; i < count; ++i) {
        int yearValue = 2026 + static_cast<int>(random() % 2);
        int month = 1 + static_cast<int>(random() % 12);
        int day = 1 + static_cast<int>(random() % 27);
        int hour = 7 + static_cast<int>(random() % 12);
        int minute = static_cast<int>(random() % 4) * 15;
        int kind = static_cast<int>(random() % 20);
        std::string body = "BEGIN:VEVENT\r\nUID:bench-" + std::to_string(i) + "\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:Evento "
            + std::to_string(i) + "\r\nLOCATION:Sala " + std::to_string(i % 17) + "\r\n";
        if (withNotes)
            body += "DESCRIPTION:Pauta do encontro número " + std::to_string(i) + "\r\n";
        if (kind == 0) {
            char date[16], next[16];
            std::snprintf(date, sizeof date, "%04d%02d%02d", yearValue, month, day);
            std::snprintf(next, sizeof next, "%04d%02d%02d", yearValue, month, day + 1);
            body += std::string("DTSTART;VALUE=DATE:") + date + "\r\nDTEND;VALUE=DATE:" + next + "\r\n";
        } else if (kind == 1) {
            body += "DTSTART;TZID=" + zoneName + ":" + stamp(yearValue, month, day, hour, minute, false) + "\r\nDTEND;TZID="
                + zoneName + ":" + stamp(yearValue, month, day, hour + 1, minute, false) + "\r\nRRULE:FREQ=WEEKLY;COUNT=10\r\n";
        } else if (kind % 2) {
            body += "DTSTART:" + stamp(yearValue, month, day, hour, minute, true) + "\r\nDTEND:"
                + stamp(yearValue, month, day, hour + 1, minute, true) + "\r\n";
        } else {
            body += "DTSTART;TZID=" + zoneName + ":" + stamp(yearValue, month, day, hour, minute, false) + "\r\nDTEND;TZID="
                + zoneName + ":" + stamp(yearValue, month, day, hour + 1, minute, false) + "\r\n";
        }
        events.push_back(body + "END:VEVENT\r\n");
    }
    return events;
}

inline std::string calendarText(const std::string& body)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//bench//EN\r\n" + body + "END:VCALENDAR\r\n";
}

inline double milliseconds(Clock::duration elapsed)
{
    return std::chrono::duration<double, std::milli>(elapsed).count();
}

inline double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

struct HelperTiming {
    double cold = 0;
    double warm = 0;
    std::optional<std::string> firstAnswer;
    long residentKilobytes = 0;
};

// Cold: the first calendar request of a fresh helper, timed from the
// request's write to the response line's arrival; warm: the median of 15
// repeats. The resident size is read after them.
inline HelperTiming timeEvents(const testing::HelperProcess::Environment& environment, const Json& range)
{
    testing::HelperProcess helper(environment);
    helper.call("ping");
    std::string request = Json {{"id", 1}, {"method", "calendar.events"}, {"params", range}}.dump() + "\n";
    HelperTiming timing;
    auto start = Clock::now();
    helper.send(request);
    timing.firstAnswer = helper.readLine();
    timing.cold = milliseconds(Clock::now() - start);
    std::vector<double> repeats;
    for (int i = 0; i < 15; ++i) {
        start = Clock::now();
        helper.send(request);
        helper.readLine();
        repeats.push_back(milliseconds(Clock::now() - start));
    }
    timing.warm = median(repeats);
    std::ifstream status("/proc/" + std::to_string(helper.pid()) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            timing.residentKilobytes = std::atol(line.c_str() + 6);
    }
    helper.finish();
    return timing;
}

}
