// Occurrences of the iCalendar core against what RFC 5545 defines, one small
// fixture per pattern that other calendar programs write.

#include "calendar/ical/Forms.h"
#include "calendar/ical/Items.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>

using namespace tarvio;
using namespace tarvio::ical;

namespace {

std::string utcText(Seconds seconds)
{
    std::time_t value = static_cast<std::time_t>(seconds);
    std::tm fields {};
    ::gmtime_r(&value, &fields);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &fields);
    return text;
}

Seconds utcSeconds(const std::string& text)
{
    std::tm fields {};
    ::strptime(text.c_str(), "%Y-%m-%dT%H:%M:%SZ", &fields);
    return static_cast<Seconds>(::timegm(&fields));
}

struct Occurrence {
    std::string title;
    std::string start;
    std::string end;
    bool operator==(const Occurrence&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Occurrence& occurrence)
{
    return out << occurrence.title << " " << occurrence.start << "/" << occurrence.end;
}

// Reads the calendar the way a store does (the components are gone before
// anything is expanded) and lists what overlaps [from, to), by start.
std::vector<Occurrence> occurrences(const std::string& body, const std::string& from, const std::string& to)
{
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//fixture//EN\r\n" + body + "END:VCALENDAR\r\n";
    Component root(icalparser_parse_string(text.c_str()));
    EXPECT_TRUE(root);
    ZoneResolver zones(root.get());
    Items items = readItems(root.get(), zones);
    if (!zones.usedCalendarZone())
        root.reset();
    std::vector<Occurrence> result;
    for (const auto& event : items.events) {
        expandEvent(event, utcSeconds(from), utcSeconds(to), [&](Seconds start, Seconds end) {
            result.push_back({event.title, utcText(start), utcText(end)});
        });
    }
    std::stable_sort(result.begin(), result.end(), [](auto& left, auto& right) { return left.start < right.start; });
    return result;
}

class Occurrences : public ::testing::Test {
protected:
    // West of UTC, without daylight saving time.
    Occurrences()
    {
        ::setenv("TZ", "America/Sao_Paulo", 1);
        ::tzset();
    }
};

}

struct OccurrenceCase {
    const char* pattern;
    std::string body;
    std::string from;
    std::string to;
    std::vector<Occurrence> expected;
};

TEST_F(Occurrences, FollowWhatOtherProgramsWrite)
{
    const std::vector<OccurrenceCase> cases {
        {"zoned start, UTC UNTIL, east of UTC (the last one stays)",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=Europe/Berlin:20261102T090000\r\n"
            "DTEND;TZID=Europe/Berlin:20261102T100000\r\nRRULE:FREQ=DAILY;UNTIL=20261104T080000Z\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T08:00:00Z", "2026-11-02T09:00:00Z"}, {"A", "2026-11-03T08:00:00Z", "2026-11-03T09:00:00Z"},
                {"A", "2026-11-04T08:00:00Z", "2026-11-04T09:00:00Z"}}},
        {"zoned start, UTC UNTIL, west of UTC (none is added)",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=America/New_York:20261102T090000\r\n"
            "DURATION:PT1H\r\nRRULE:FREQ=DAILY;UNTIL=20261104T120000Z\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T14:00:00Z", "2026-11-02T15:00:00Z"}, {"A", "2026-11-03T14:00:00Z", "2026-11-03T15:00:00Z"}}},
        {"all-day series with a UTC UNTIL",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;VALUE=DATE:20261102\r\nDTEND;VALUE=DATE:20261103\r\n"
            "RRULE:FREQ=DAILY;UNTIL=20261103T025959Z\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T03:00:00Z", "2026-11-03T03:00:00Z"}}},
        {"RSCALE rule",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20240229T100000Z\r\nDURATION:PT1H\r\n"
            "RRULE:RSCALE=GREGORIAN;FREQ=YEARLY;SKIP=FORWARD\r\nEND:VEVENT\r\n",
            "2026-01-01T00:00:00Z", "2029-01-01T00:00:00Z",
            {{"A", "2026-03-01T10:00:00Z", "2026-03-01T11:00:00Z"}, {"A", "2027-03-01T10:00:00Z", "2027-03-01T11:00:00Z"},
                {"A", "2028-02-29T10:00:00Z", "2028-02-29T11:00:00Z"}}},
        {"several masters of one UID: the newest wins",
            "BEGIN:VEVENT\r\nUID:a\r\nSEQUENCE:2\r\nDTSTAMP:20260101T000000Z\r\nSUMMARY:New\r\nDTSTART:20261102T100000Z\r\n"
            "DURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEXDATE:20261103T100000Z\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:a\r\nSEQUENCE:1\r\nDTSTAMP:20260301T000000Z\r\nSUMMARY:Old\r\nDTSTART:20261102T100000Z\r\n"
            "DURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:a\r\nSEQUENCE:2\r\nDTSTAMP:20250101T000000Z\r\nSUMMARY:Stale copy\r\nDTSTART:20261102T100000Z\r\n"
            "DURATION:PT1H\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"New", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"}, {"New", "2026-11-04T10:00:00Z", "2026-11-04T11:00:00Z"}}},
        {"RDATE periods keep their own ends",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20261102T100000Z\r\nDURATION:PT1H\r\n"
            "RDATE;VALUE=PERIOD:20261103T150000Z/20261103T170000Z,20261104T150000Z/PT30M\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"}, {"A", "2026-11-03T15:00:00Z", "2026-11-03T17:00:00Z"},
                {"A", "2026-11-04T15:00:00Z", "2026-11-04T15:30:00Z"}}},
        {"RANGE=THISANDFUTURE moves that occurrence and every later one",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20261102T100000Z\r\nDTEND:20261102T110000Z\r\n"
            "RRULE:FREQ=WEEKLY;COUNT=4\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:B\r\nRECURRENCE-ID;RANGE=THISANDFUTURE:20261116T100000Z\r\n"
            "DTSTART:20261116T140000Z\r\nDTEND:20261116T143000Z\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-12-01T00:00:00Z",
            {{"A", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"}, {"A", "2026-11-09T10:00:00Z", "2026-11-09T11:00:00Z"},
                {"B", "2026-11-16T14:00:00Z", "2026-11-16T14:30:00Z"}, {"B", "2026-11-23T14:00:00Z", "2026-11-23T14:30:00Z"}}},
        {"all-day series whose override names its day in UTC",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;VALUE=DATE:20261102\r\nRRULE:FREQ=DAILY;COUNT=3\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:Moved\r\nRECURRENCE-ID:20261103T000000Z\r\nDTSTART;VALUE=DATE:20261106\r\n"
            "END:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T03:00:00Z", "2026-11-03T03:00:00Z"}, {"A", "2026-11-04T03:00:00Z", "2026-11-05T03:00:00Z"},
                {"Moved", "2026-11-06T03:00:00Z", "2026-11-07T03:00:00Z"}}},
        {"date start with a date-time end keeps its days",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;VALUE=DATE:20261102\r\nDTEND:20261104T000000\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:B\r\nDTSTART;VALUE=DATE:20261102\r\nDTEND:20261103T120000\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T03:00:00Z", "2026-11-04T03:00:00Z"}, {"B", "2026-11-02T03:00:00Z", "2026-11-04T03:00:00Z"}}},
        {"a second RRULE",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20261102T100000Z\r\nDURATION:PT1H\r\n"
            "RRULE:FREQ=WEEKLY;BYDAY=MO;COUNT=2\r\nRRULE:FREQ=WEEKLY;BYDAY=WE;COUNT=2\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-12-01T00:00:00Z",
            {{"A", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"}, {"A", "2026-11-04T10:00:00Z", "2026-11-04T11:00:00Z"},
                {"A", "2026-11-09T10:00:00Z", "2026-11-09T11:00:00Z"}, {"A", "2026-11-11T10:00:00Z", "2026-11-11T11:00:00Z"}}},
        {"EXDATE;VALUE=DATE removes the timed occurrence of that day",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=Europe/Berlin:20261102T233000\r\nDURATION:PT1H\r\n"
            "RRULE:FREQ=DAILY;COUNT=3\r\nEXDATE;VALUE=DATE:20261103\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T22:30:00Z", "2026-11-02T23:30:00Z"}, {"A", "2026-11-04T22:30:00Z", "2026-11-04T23:30:00Z"}}},
        {"COUNT with UNTIL: whichever ends first",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20261102T100000Z\r\nDURATION:PT1H\r\n"
            "RRULE:FREQ=DAILY;COUNT=5;UNTIL=20261104T235959Z\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:B\r\nDTSTART:20261102T100000Z\r\nDURATION:PT1H\r\n"
            "RRULE:FREQ=DAILY;COUNT=2;UNTIL=20261130T000000Z\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"}, {"B", "2026-11-02T10:00:00Z", "2026-11-02T11:00:00Z"},
                {"A", "2026-11-03T10:00:00Z", "2026-11-03T11:00:00Z"}, {"B", "2026-11-03T10:00:00Z", "2026-11-03T11:00:00Z"},
                {"A", "2026-11-04T10:00:00Z", "2026-11-04T11:00:00Z"}}},
        {"Windows zone names",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=Pacific Standard Time:20261102T090000\r\n"
            "DTEND;TZID=Pacific Standard Time:20261102T100000\r\nEND:VEVENT\r\n"
            "BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:B\r\nDTSTART;TZID=\"E. South America Standard Time\":20261103T090000\r\n"
            "DURATION:PT1H\r\nEND:VEVENT\r\n",
            "2026-11-01T00:00:00Z", "2026-11-10T00:00:00Z",
            {{"A", "2026-11-02T17:00:00Z", "2026-11-02T18:00:00Z"}, {"B", "2026-11-03T12:00:00Z", "2026-11-03T13:00:00Z"}}},
        {"hourly since 2000, listed today",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART:20000101T000000Z\r\nDURATION:PT1H\r\n"
            "RRULE:FREQ=HOURLY;INTERVAL=5\r\nEND:VEVENT\r\n",
            "2026-11-02T00:00:00Z", "2026-11-02T12:00:00Z",
            {{"A", "2026-11-02T02:00:00Z", "2026-11-02T03:00:00Z"}, {"A", "2026-11-02T07:00:00Z", "2026-11-02T08:00:00Z"}}},
        {"minutely since 2000 in a zone with daylight saving",
            "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=Europe/Berlin:20000101T000700\r\nDURATION:PT1M\r\n"
            "RRULE:FREQ=MINUTELY;INTERVAL=20\r\nEND:VEVENT\r\n",
            "2026-07-01T10:00:00Z", "2026-07-01T11:00:00Z",
            {{"A", "2026-07-01T10:07:00Z", "2026-07-01T10:08:00Z"}, {"A", "2026-07-01T10:27:00Z", "2026-07-01T10:28:00Z"},
                {"A", "2026-07-01T10:47:00Z", "2026-07-01T10:48:00Z"}}},
    };
    for (const auto& test : cases)
        EXPECT_EQ(occurrences(test.body, test.from, test.to), test.expected) << test.pattern;
}

// A finite series is walked once and then read from its list: later ranges
// over the same reading still get exactly what overlaps them, also for a
// series with more occurrences than a list holds.
TEST_F(Occurrences, LaterRangesOverOneReadingGetExactlyWhatOverlapsThem)
{
    const std::string body =
        "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A\r\nDTSTART;TZID=Europe/Berlin:20261005T090000\r\nDURATION:PT1H\r\n"
        "RRULE:FREQ=WEEKLY;COUNT=10\r\nEXDATE;TZID=Europe/Berlin:20261019T090000\r\n"
        "RDATE;VALUE=PERIOD:20261020T120000Z/20261020T150000Z\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:a\r\nSUMMARY:A moved\r\nRECURRENCE-ID;TZID=Europe/Berlin:20261102T090000\r\n"
        "DTSTART:20261103T100000Z\r\nDURATION:PT1H\r\nEND:VEVENT\r\n"
        "BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:B\r\nDTSTART:20260101T060000Z\r\nDURATION:PT30M\r\n"
        "RRULE:FREQ=HOURLY;COUNT=2500\r\nEND:VEVENT\r\n";
    std::string text = "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//fixture//EN\r\n" + body + "END:VCALENDAR\r\n";
    Component root(icalparser_parse_string(text.c_str()));
    ZoneResolver zones(root.get());
    Items items = readItems(root.get(), zones);
    auto list = [&](const std::string& from, const std::string& to) {
        std::vector<Occurrence> result;
        for (const auto& event : items.events) {
            expandEvent(event, utcSeconds(from), utcSeconds(to), [&](Seconds start, Seconds end) {
                result.push_back({event.title, utcText(start), utcText(end)});
            });
        }
        return result;
    };
    EXPECT_EQ(list("2026-01-01T00:00:00Z", "2027-01-01T00:00:00Z").size(), 2500u + 10u);
    EXPECT_EQ(list("2026-10-12T00:00:00Z", "2026-10-26T00:00:00Z"),
        (std::vector<Occurrence> {{"A", "2026-10-12T07:00:00Z", "2026-10-12T08:00:00Z"},
            {"A", "2026-10-20T12:00:00Z", "2026-10-20T15:00:00Z"}}));
    EXPECT_EQ(list("2026-10-20T13:00:00Z", "2026-10-20T14:00:00Z"),
        (std::vector<Occurrence> {{"A", "2026-10-20T12:00:00Z", "2026-10-20T15:00:00Z"}}));
    EXPECT_EQ(list("2026-11-02T00:00:00Z", "2026-11-10T00:00:00Z"),
        (std::vector<Occurrence> {{"A", "2026-11-09T08:00:00Z", "2026-11-09T09:00:00Z"},
            {"A moved", "2026-11-03T10:00:00Z", "2026-11-03T11:00:00Z"}}));
    EXPECT_EQ(list("2026-12-07T08:30:00Z", "2027-01-01T00:00:00Z"),
        (std::vector<Occurrence> {{"A", "2026-12-07T08:00:00Z", "2026-12-07T09:00:00Z"}}));
    auto lastDay = list("2026-04-15T00:00:00Z", "2026-04-16T00:00:00Z");
    ASSERT_EQ(lastDay.size(), 10u);
    EXPECT_EQ(lastDay.back(), (Occurrence {"B", "2026-04-15T09:00:00Z", "2026-04-15T09:30:00Z"}));
}
