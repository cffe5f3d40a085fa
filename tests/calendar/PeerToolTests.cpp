// khal and todoman read the files the helper writes, and the helper reads
// theirs. Each test gives the peers a configuration and data folder of their own.

#include "calendar/TemporaryFolder.h"
#include "channel/Dates.h"
#include "support/HelperProcess.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>

using namespace tarvio;
using tarvio::testing::HelperProcess;
using tarvio::testing::TemporaryFolder;
using tarvio::testing::writeText;

namespace {

class PeerTools : public ::testing::Test {
protected:
    PeerTools()
    {
        std::string store = data.path.string() + "/tarvio";
        writeText(peers.path.string() + "/khal.conf",
            "[calendars]\n[[tarvio]]\npath = " + store + "/calendars/calendario\ntype = calendar\n"
            "[locale]\ntimeformat = %H:%M\ndateformat = %Y-%m-%d\nlongdateformat = %Y-%m-%d\n"
            "datetimeformat = %Y-%m-%d %H:%M\nlongdatetimeformat = %Y-%m-%d %H:%M\n"
            "local_timezone = America/Sao_Paulo\ndefault_timezone = America/Sao_Paulo\n"
            "[default]\ndefault_calendar = tarvio\n");
        writeText(peers.path.string() + "/todoman.py",
            "path = \"" + store + "/reminders/*\"\ndate_format = \"%Y-%m-%d\"\ntime_format = \"%H:%M\"\n"
            "default_list = \"Lembretes\"\ncache_path = \"" + peers.path.string() + "/todoman.sqlite\"\n");
        // First use creates the two collections the peers are pointed at.
        helper.call("calendar.calendars");
    }

    // Runs a peer with its own data folder and the helper's zone; its standard output.
    std::string run(const std::string& command)
    {
        std::string line = "cd " + peers.path.string() + " && HOME=" + peers.path.string() + " XDG_DATA_HOME=" + peers.path.string()
            + "/data XDG_CONFIG_HOME=" + peers.path.string() + "/config TZ=America/Sao_Paulo " + command + " 2>/dev/null";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(::popen(line.c_str(), "r"), ::pclose);
        std::string output;
        std::array<char, 4096> buffer;
        while (pipe && std::fgets(buffer.data(), buffer.size(), pipe.get()))
            output += buffer.data();
        return output;
    }
    std::string khal(const std::string& arguments) { return run("khal -c khal.conf " + arguments); }
    Json todoman(const std::string& arguments) { return Json::parse(run("todoman -c todoman.py --porcelain " + arguments)); }

    TemporaryFolder data;
    TemporaryFolder peers;
    // No EDS on this bus, and no khal or todoman configuration of the user.
    HelperProcess helper {{{"XDG_DATA_HOME", data.path.string()}, {"XDG_CONFIG_HOME", data.path.string()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}, {"TZ", "America/Sao_Paulo"}}};
};

Instant at(const std::string& text)
{
    return *isoPlain.parse(text);
}

long long epoch(const std::string& text)
{
    return std::chrono::floor<std::chrono::seconds>(at(text)).time_since_epoch().count();
}

}

TEST_F(PeerTools, PeersListWhatTheHelperCreates)
{
    helper.call("calendar.create", {{"title", "Reunião"}, {"start", "2026-11-15T13:00:00Z"}, {"alertMinutes", 15}});
    helper.call("calendar.create", {{"title", "Feriado"}, {"start", "2026-11-16T13:00:00Z"}, {"allDay", true}});
    helper.call("calendar.create", {{"title", "Viagem"}, {"start", "2026-11-17T13:00:00Z"}, {"allDay", true},
                                       {"end", "2026-11-18T13:00:00Z"}});
    auto pao = helper.call("reminders.create", {{"title", "Comprar pão"}, {"due", "2026-11-16T11:30:00Z"}})["result"];
    auto feito = helper.call("reminders.create", {{"title", "Feito"}, {"notes", "já foi"}})["result"];
    helper.call("reminders.complete", {{"id", feito["id"]}});

    EXPECT_EQ(khal("list --format \"{start} {end} {title} {alarm-symbol}\" 2026-11-14 6d"),
        "Sunday, 2026-11-15\n2026-11-15 10:00 2026-11-15 11:00 Reunião  ⏰\n"
        "Monday, 2026-11-16\n2026-11-16 2026-11-16 Feriado \n"
        "Tuesday, 2026-11-17\n2026-11-17 2026-11-18 Viagem \n"
        "Wednesday, 2026-11-18\n2026-11-17 2026-11-18 Viagem \n");

    auto tasks = todoman("list --status ANY");
    ASSERT_EQ(tasks.size(), 2u);
    for (const auto& task : tasks) {
        EXPECT_EQ(task["list"], "Lembretes");
        if (task["summary"] == "Comprar pão") {
            EXPECT_EQ(task["due"], epoch("2026-11-16T11:30:00Z"));
            EXPECT_EQ(task["completed"], false);
        } else {
            EXPECT_EQ(task["summary"], "Feito");
            EXPECT_EQ(task["description"], "já foi");
            EXPECT_EQ(task["completed"], true);
            EXPECT_NE(task["completed_at"], nullptr);
        }
    }
}

TEST_F(PeerTools, HelperReadsWhatPeersCreateBetweenTwoRequests)
{
    Json range = {{"from", "2026-11-20T00:00:00Z"}, {"to", "2026-12-08T00:00:00Z"}};
    EXPECT_EQ(helper.call("calendar.events", range)["result"], Json::array());
    EXPECT_EQ(helper.call("reminders.list")["result"], Json::array());

    khal("new -a tarvio -l \"Sala 2\" 2026-11-20 14:00 15:00 Consulta :: traga exames");
    khal("new -a tarvio 2026-11-21 Mutirão");
    // khal ends the rule at the local midnight that starts the 7th: two classes.
    khal("new -a tarvio -r weekly -u 2026-12-07 2026-11-23 09:00 10:00 Aula");
    run("todoman -c todoman.py new -l Lembretes --due \"2026-11-18 09:00\" Ligar para Ana");
    run("todoman -c todoman.py new -l Lembretes Revisar");
    auto open = todoman("list");
    for (const auto& task : open) {
        if (task["summary"] == "Revisar")
            run("todoman -c todoman.py done " + std::to_string(task["id"].get<int>()));
    }

    auto events = helper.call("calendar.events", range)["result"];
    std::vector<std::string> seen;
    for (const auto& event : events)
        seen.push_back(event["title"].get<std::string>() + " " + event["start"].get<std::string>() + " "
            + event["end"].get<std::string>() + (event["allDay"] == true ? " all-day" : ""));
    EXPECT_EQ(seen, (std::vector<std::string> {
                        "Consulta 2026-11-20T17:00:00Z 2026-11-20T18:00:00Z",
                        "Mutirão 2026-11-21T03:00:00Z 2026-11-22T03:00:00Z all-day",
                        "Aula 2026-11-23T12:00:00Z 2026-11-23T13:00:00Z",
                        "Aula 2026-11-30T12:00:00Z 2026-11-30T13:00:00Z",
                    }));
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events[0]["location"], "Sala 2");
    EXPECT_EQ(events[0]["notes"], "traga exames");
    EXPECT_EQ(events[0]["calendar"], "Calendário");

    auto reminders = helper.call("reminders.list")["result"];
    ASSERT_EQ(reminders.size(), 2u);
    for (const auto& reminder : reminders) {
        EXPECT_EQ(reminder["list"], "Lembretes");
        if (reminder["title"] == "Ligar para Ana") {
            EXPECT_EQ(reminder["due"], "2026-11-18T12:00:00Z");
            EXPECT_EQ(reminder["completed"], false);
        } else {
            EXPECT_EQ(reminder["title"], "Revisar");
            EXPECT_EQ(reminder["completed"], true);
        }
    }

    // The helper completes a peer's task; todoman agrees.
    for (const auto& reminder : reminders) {
        if (reminder["title"] == "Ligar para Ana")
            EXPECT_EQ(helper.call("reminders.complete", {{"id", reminder["id"]}})["result"]["completed"], true);
    }
    EXPECT_EQ(todoman("list"), Json::array());
    EXPECT_EQ(todoman("list --status ANY").size(), 2u);
}

TEST_F(PeerTools, TodomanStillReadsWhatTheHelperCompleted)
{
    // A to-do as a CalDAV client leaves it: categories, vendor properties,
    // an offset with seconds in its zone.
    writeText(data.path.string() + "/tarvio/reminders/lembretes/foreign.ics",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//Example Corp.//CalDAV Client//EN\r\n"
        "BEGIN:VTIMEZONE\r\nTZID:America/Sao_Paulo\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:-030628\r\n"
        "TZOFFSETTO:-0300\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n"
        "BEGIN:VTODO\r\nUID:foreign-1\r\nDTSTAMP:20261101T120000Z\r\nSUMMARY:Pagar contas\r\n"
        "CATEGORIES:casa,finanças\r\nX-APPLE-SORT-ORDER:42\r\nX-EXAMPLE-FLAG;X-P=1:sim\r\n"
        "DUE;TZID=America/Sao_Paulo:20261120T170000\r\nSTATUS:NEEDS-ACTION\r\nEND:VTODO\r\nEND:VCALENDAR\r\n");
    auto before = todoman("list --status ANY");
    ASSERT_EQ(before.size(), 1u);
    auto reminders = helper.call("reminders.list")["result"];
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(helper.call("reminders.complete", {{"id", reminders[0]["id"]}})["result"]["completed"], true);

    auto after = todoman("list --status ANY");
    ASSERT_EQ(after.size(), 1u);
    EXPECT_EQ(after[0]["summary"], "Pagar contas");
    EXPECT_EQ(after[0]["completed"], true);
    EXPECT_EQ(after[0]["categories"], before[0]["categories"]);
    EXPECT_EQ(after[0]["due"], before[0]["due"]);
}

TEST_F(PeerTools, KhalAgreesOnZonedSeriesWithUntilInUtc)
{
    // As Thunderbird and Google write them: the last start given in UTC.
    std::string folder = data.path.string() + "/tarvio/calendars/calendario/";
    writeText(folder + "east.ics",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//fixture//EN\r\nBEGIN:VEVENT\r\nUID:east\r\nSUMMARY:Leste\r\n"
        "DTSTART;TZID=Europe/Berlin:20261102T090000\r\nDTEND;TZID=Europe/Berlin:20261102T100000\r\n"
        "RRULE:FREQ=DAILY;UNTIL=20261104T080000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    writeText(folder + "west.ics",
        "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:-//fixture//EN\r\nBEGIN:VEVENT\r\nUID:west\r\nSUMMARY:Oeste\r\n"
        "DTSTART;TZID=America/New_York:20261102T090000\r\nDURATION:PT1H\r\n"
        "RRULE:FREQ=DAILY;UNTIL=20261104T120000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
    EXPECT_EQ(khal("list --format \"{start} {title}\" 2026-11-01 10d"),
        "Monday, 2026-11-02\n2026-11-02 05:00 Leste\n2026-11-02 11:00 Oeste\n"
        "Tuesday, 2026-11-03\n2026-11-03 05:00 Leste\n2026-11-03 11:00 Oeste\n"
        "Wednesday, 2026-11-04\n2026-11-04 05:00 Leste\n");
    auto answer = helper.call("calendar.events", {{"from", "2026-11-01T00:00:00Z"}, {"to", "2026-11-11T00:00:00Z"}});
    std::vector<std::string> seen;
    for (const auto& event : answer["result"])
        seen.push_back(event["start"].get<std::string>() + " " + event["title"].get<std::string>());
    EXPECT_EQ(seen, (std::vector<std::string> {"2026-11-02T08:00:00Z Leste", "2026-11-02T14:00:00Z Oeste",
                        "2026-11-03T08:00:00Z Leste", "2026-11-03T14:00:00Z Oeste", "2026-11-04T08:00:00Z Leste"}))
        << answer;
}
