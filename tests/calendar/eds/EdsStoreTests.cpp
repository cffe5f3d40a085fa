// The helper on Evolution Data Server: each case runs a private session bus
// on which EDS starts on demand, puts its fixtures in with EDS's own API
// (eds_client.py, python3-gi) and checks what the helper wrote with it too.

#include "calendar/TemporaryFolder.h"
#include "calendar/eds/EdsSession.h"
#include "channel/Dates.h"
#include "support/HelperProcess.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/socket.h>
#include <sys/un.h>

#include <algorithm>
#include <chrono>
#include <tuple>

using namespace tarvio;
using tarvio::testing::EdsSession;
using tarvio::testing::HelperProcess;
using tarvio::testing::TemporaryFolder;
using tarvio::testing::exists;
using tarvio::testing::writeText;

namespace {

// Recurrence across a change of daylight saving time with an exclusion and a
// moved instance, a zone only the item defines, RDATE, a multi-day all-day
// event and a plain UTC one.
const char* const fixture = R"(BEGIN:VCALENDAR
VERSION:2.0
PRODID:-//Tarvio tests//fixture//PT
BEGIN:VTIMEZONE
TZID:Europe/Berlin
BEGIN:STANDARD
DTSTART:19701025T030000
TZOFFSETFROM:+0200
TZOFFSETTO:+0100
RRULE:FREQ=YEARLY;BYMONTH=10;BYDAY=-1SU
END:STANDARD
BEGIN:DAYLIGHT
DTSTART:19700329T020000
TZOFFSETFROM:+0100
TZOFFSETTO:+0200
RRULE:FREQ=YEARLY;BYMONTH=3;BYDAY=-1SU
END:DAYLIGHT
END:VTIMEZONE
BEGIN:VTIMEZONE
TZID:Fixture Time
BEGIN:STANDARD
DTSTART:19700101T000000
TZOFFSETFROM:-0200
TZOFFSETTO:-0200
END:STANDARD
END:VTIMEZONE
BEGIN:VEVENT
UID:weekly@fixture
DTSTAMP:20260101T000000Z
DTSTART;TZID=Europe/Berlin:20261019T090000
DTEND;TZID=Europe/Berlin:20261019T100000
RRULE:FREQ=WEEKLY;COUNT=6
EXDATE;TZID=Europe/Berlin:20261102T090000
SUMMARY:Semanal
END:VEVENT
BEGIN:VEVENT
UID:weekly@fixture
DTSTAMP:20260101T000000Z
RECURRENCE-ID;TZID=Europe/Berlin:20261109T090000
DTSTART;TZID=Europe/Berlin:20261109T140000
DTEND;TZID=Europe/Berlin:20261109T150000
SUMMARY:Semanal movida
END:VEVENT
BEGIN:VEVENT
UID:trip@fixture
DTSTAMP:20260101T000000Z
DTSTART;VALUE=DATE:20261105
DTEND;VALUE=DATE:20261108
SUMMARY:Viagem
END:VEVENT
BEGIN:VEVENT
UID:custom@fixture
DTSTAMP:20260101T000000Z
DTSTART;TZID=Fixture Time:20261103T080000
DTEND;TZID=Fixture Time:20261103T083000
RDATE;TZID=Fixture Time:20261110T080000
SUMMARY:Zona própria
END:VEVENT
BEGIN:VEVENT
UID:plain@fixture
DTSTAMP:20260101T000000Z
DTSTART:20261104T120000Z
DURATION:PT45M
SUMMARY:Simples
LOCATION:Sala 2
END:VEVENT
END:VCALENDAR
)";

using Occurrence = std::tuple<std::string, std::string, std::string, bool>;

std::vector<Occurrence> occurrences(const Json& events)
{
    std::vector<Occurrence> result;
    for (const auto& event : events)
        result.emplace_back(event["title"], event["start"], event["end"], event["allDay"]);
    return result;
}

Json byTitle(const Json& list, const std::string& title)
{
    for (const auto& item : list) {
        if (item["title"] == title)
            return item;
    }
    return nullptr;
}

std::string isoOf(int64_t seconds)
{
    return formatDate(Instant(std::chrono::seconds(seconds)));
}

class EdsStore : public ::testing::Test {
protected:
    HelperProcess startHelper() { return HelperProcess(eds.environment); }
    EdsSession eds;
};

}

TEST_F(EdsStore, ServesEdsSourcesAndOnlyTheVdirCollectionsThatExist)
{
    std::string work = eds.client("add-source events Trabalho '#112233'");
    // A collection of the helper's own that was there before.
    std::string own = eds.path("data") + "/tarvio/calendars/caderno";
    std::filesystem::create_directories(own);
    writeText(own + "/displayname", "Caderno\n");

    auto helper = startHelper();
    auto calendars = helper.call("calendar.calendars", {{"debug", true}})["result"];
    ASSERT_TRUE(calendars.is_array()) << calendars;
    EXPECT_EQ(byTitle(calendars, "Personal"),
        Json::parse(R"({"title": "Personal", "writable": true, "color": "#BECEDD", "isDefault": true, "store": "eds"})"));
    EXPECT_EQ(byTitle(calendars, "Trabalho"),
        Json::parse(R"({"title": "Trabalho", "writable": true, "color": "#112233", "isDefault": false, "store": "eds"})"));
    auto birthdays = byTitle(calendars, "Birthdays & Anniversaries");
    EXPECT_EQ(birthdays["writable"], false) << calendars;
    EXPECT_EQ(byTitle(calendars, "Caderno")["store"], "vdir") << calendars;
    EXPECT_EQ(byTitle(calendars, "Calendário"), nullptr) << calendars;
    EXPECT_FALSE(exists(eds.path("data") + "/tarvio/calendars/calendario"));
    EXPECT_FALSE(exists(eds.path("data") + "/tarvio/default-calendar"));

    // Without "debug" the objects are as before.
    EXPECT_FALSE(helper.call("calendar.calendars")["result"][0].contains("store"));
    // The read-only calendar takes no event; the named one does.
    EXPECT_EQ(helper.call("calendar.create", {{"title", "x"}, {"start", "2026-11-15T10:00:00Z"},
                                                 {"calendar", "Birthdays & Anniversaries"}})["error"]["code"],
        "not_found");
    auto created = helper.call("calendar.create", {{"title", "Na agenda"}, {"start", "2026-11-15T10:00:00Z"},
                                                      {"calendar", "Trabalho"}})["result"];
    EXPECT_EQ(created["calendar"], "Trabalho");
    EXPECT_NE(eds.client("objects " + work + " events").find("Na agenda"), std::string::npos);
    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}

TEST_F(EdsStore, OneFixtureGivesTheSameOccurrencesAsOnVdirAndAsEdsItself)
{
    std::string file = eds.path("fixture.ics");
    writeText(file, fixture);
    eds.client("receive default events " + file);
    Json range = {{"from", "2026-10-01T00:00:00Z"}, {"to", "2026-12-01T00:00:00Z"}};

    auto helper = startHelper();
    auto fromEds = helper.call("calendar.events", range)["result"];

    TemporaryFolder vdir;
    std::string collection = vdir.path.string() + "/tarvio/calendars/fixture";
    std::filesystem::create_directories(collection);
    writeText(collection + "/fixture.ics", fixture);
    HelperProcess vdirHelper {{{"XDG_DATA_HOME", vdir.path.string()}, {"XDG_CONFIG_HOME", vdir.path.string()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}, {"TZ", "America/Sao_Paulo"}}};
    auto fromVdir = vdirHelper.call("calendar.events", range)["result"];

    ASSERT_EQ(fromEds.size(), 9u) << fromEds;
    EXPECT_EQ(occurrences(fromEds), occurrences(fromVdir));
    // Across the change of time: 09:00 in Berlin is 07:00Z, then 08:00Z.
    EXPECT_EQ(fromEds[0]["start"], "2026-10-19T07:00:00Z");
    EXPECT_EQ(fromEds[1]["start"], "2026-10-26T08:00:00Z");
    EXPECT_EQ(byTitle(fromEds, "Semanal movida")["start"], "2026-11-09T13:00:00Z");
    EXPECT_EQ(byTitle(fromEds, "Zona própria")["start"], "2026-11-03T10:00:00Z");
    EXPECT_EQ(byTitle(fromEds, "Simples")["location"], "Sala 2");
    EXPECT_EQ(byTitle(fromEds, "Viagem")["allDay"], true);

    // EDS's own expansion, with the helper's zone for dates, agrees on every occurrence.
    auto instances = Json::parse(eds.client("instances 1790812800 1796083200"))["instances"];
    std::vector<Occurrence> expected;
    for (const auto& instance : instances)
        expected.emplace_back(instance["title"], isoOf(instance["start"]), isoOf(instance["end"]), instance["title"] == "Viagem");
    auto listed = occurrences(fromEds);
    std::sort(expected.begin(), expected.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(listed, expected);
}

TEST_F(EdsStore, WritesThroughEdsInTheFormsOfTheVdirStore)
{
    auto helper = startHelper();
    auto timed = helper.call("calendar.create",
        {{"title", "Reunião"}, {"start", "2026-11-15T07:00:00-03:00"}, {"alertMinutes", 15}, {"location", "Sala 1"}})["result"];
    EXPECT_EQ(timed["start"], "2026-11-15T10:00:00Z");
    EXPECT_EQ(timed["end"], "2026-11-15T11:00:00Z");
    EXPECT_EQ(timed["calendar"], "Personal");
    helper.call("calendar.create", {{"title", "Feriado"}, {"start", "2026-11-20T12:00:00Z"}, {"allDay", true}});

    auto events = Json::parse(eds.client("objects default events"));
    std::string meeting, holiday;
    for (const auto& text : events) {
        std::string item = text;
        (item.find("Reunião") != std::string::npos ? meeting : holiday) = item;
    }
    EXPECT_NE(meeting.find("DTSTART:20261115T100000Z"), std::string::npos) << meeting;
    EXPECT_NE(meeting.find("TRIGGER:-PT15M"), std::string::npos) << meeting;
    EXPECT_NE(holiday.find("DTSTART;VALUE=DATE:20261120"), std::string::npos) << holiday;
    EXPECT_NE(holiday.find("DTEND;VALUE=DATE:20261121"), std::string::npos) << holiday;

    auto reminder = helper.call("reminders.create", {{"title", "Pagar"}, {"due", "2026-11-16T12:30:00Z"}, {"notes", "boleto"}})["result"];
    EXPECT_EQ(reminder["list"], "Personal");
    EXPECT_EQ(reminder["due"], "2026-11-16T12:30:00Z");
    auto tasks = Json::parse(eds.client("objects default tasks"));
    ASSERT_EQ(tasks.size(), 1u);
    std::string task = tasks[0];
    // A floating local due time, an absolute alarm at the instant.
    EXPECT_NE(task.find("DUE:20261116T093000\r"), std::string::npos) << task;
    EXPECT_NE(task.find("TRIGGER;VALUE=DATE-TIME:20261116T123000Z"), std::string::npos) << task;

    auto listed = helper.call("reminders.list", {{"completed", false}})["result"];
    ASSERT_EQ(listed.size(), 1u) << listed;
    EXPECT_EQ(listed[0], reminder);
    auto done = helper.call("reminders.complete", {{"id", reminder["id"]}})["result"];
    EXPECT_EQ(done["completed"], true);
    EXPECT_EQ(helper.call("reminders.complete", {{"id", reminder["id"]}})["result"]["completed"], true);
    task = Json::parse(eds.client("objects default tasks"))[0];
    EXPECT_NE(task.find("STATUS:COMPLETED"), std::string::npos) << task;
    EXPECT_NE(task.find("COMPLETED:"), std::string::npos) << task;
    EXPECT_EQ(helper.call("reminders.list", {{"completed", true}})["result"].size(), 1u);
    EXPECT_EQ(helper.call("reminders.list", {{"completed", false}})["result"], Json::array());

    // Identifiers are compared, never handed on: lookalikes find nothing.
    for (std::string lookalike : std::vector<std::string> {std::string(reminder["id"]) + "/", "eds:system-task-list/../x", "eds:", "reminders/lembretes/x"}) {
        EXPECT_EQ(helper.call("reminders.complete", {{"id", lookalike}})["error"]["code"], "not_found") << lookalike;
    }
    EXPECT_EQ(helper.call("reminders.complete", {{"id", timed["id"]}})["error"]["code"], "not_found");
}

TEST_F(EdsStore, AChangeByAnotherProgramShowsInTheNextAnswer)
{
    auto helper = startHelper();
    Json range = {{"from", "2026-11-01T00:00:00Z"}, {"to", "2026-11-30T00:00:00Z"}};
    EXPECT_EQ(helper.call("calendar.events", range)["result"], Json::array());

    std::string file = eds.path("other.ics");
    writeText(file, "BEGIN:VCALENDAR\nVERSION:2.0\nBEGIN:VEVENT\nUID:other@program\nDTSTAMP:20260101T000000Z\n"
                    "DTSTART:20261110T150000Z\nDTEND:20261110T160000Z\nSUMMARY:De fora\nEND:VEVENT\nEND:VCALENDAR\n");
    eds.client("receive default events " + file);
    // EDS hands its change notifications over within moments.
    auto waitFor = [&](size_t count) {
        Json events;
        for (int attempt = 0; attempt < 50; attempt++) {
            events = helper.call("calendar.events", range)["result"];
            if (events.size() == count)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return events;
    };
    auto events = waitFor(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0]["title"], "De fora");

    eds.client("remove default events other@program");
    EXPECT_EQ(waitFor(0), Json::array());
}

TEST_F(EdsStore, AFactoryThatStopsAnsweringGivesAnErrorNotAHang)
{
    auto helper = startHelper();
    ASSERT_EQ(byTitle(helper.call("calendar.calendars", {{"debug", true}})["result"], "Personal")["store"], "eds");
    // /proc names are cut at 15 characters.
    auto factories = eds.services("evolution-calen");
    ASSERT_FALSE(factories.empty());
    for (pid_t pid : factories)
        ::kill(pid, SIGSTOP);
    auto started = std::chrono::steady_clock::now();
    auto answer = helper.call("calendar.create", {{"title", "Parado"}, {"start", "2026-11-15T10:00:00Z"}});
    auto waited = std::chrono::steady_clock::now() - started;
    for (pid_t pid : factories)
        ::kill(pid, SIGCONT);
    EXPECT_EQ(answer["error"]["code"], "internal") << answer;
    EXPECT_LT(waited, std::chrono::seconds(10));
    // The helper goes on answering.
    EXPECT_TRUE(helper.call("ping").contains("result"));
}

TEST(CalendarChoice, WithoutEdsTheVdirStoreServesAsBefore)
{
    TemporaryFolder data;
    // One bus address that refuses, and one that accepts and never answers.
    std::string silent = data.path.string() + "/silent-bus";
    int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    std::snprintf(address.sun_path, sizeof address.sun_path, "%s", silent.c_str());
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 4), 0);

    for (std::string bus : std::vector<std::string> {"unix:path=/nonexistent", "unix:path=" + silent}) {
        std::string home = data.path.string() + "/" + std::to_string(bus.size());
        HelperProcess helper {{{"XDG_DATA_HOME", home}, {"XDG_CONFIG_HOME", home}, {"DBUS_SESSION_BUS_ADDRESS", bus}}};
        auto started = std::chrono::steady_clock::now();
        auto calendars = helper.call("calendar.calendars", {{"debug", true}})["result"];
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(8)) << bus;
        EXPECT_EQ(calendars,
            Json::parse(R"([{"title": "Calendário", "writable": true, "color": "#1F6FEB", "isDefault": true, "store": "vdir"}])"))
            << bus;
        EXPECT_EQ(helper.finish(), 0);
        EXPECT_EQ(helper.errorOutput(), "");
    }
    ::close(listener);
}
