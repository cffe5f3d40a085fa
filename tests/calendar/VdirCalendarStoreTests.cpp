#include "calendar/TemporaryFolder.h"
#include "calendar/vdir/AtomicFile.h"
#include "calendar/vdir/IcsFile.h"
#include "calendar/vdir/VdirCalendarStore.h"

#include <gtest/gtest.h>

#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <set>

using namespace tarvio;
using namespace tarvio::testing;

namespace {

Instant at(const std::string& text)
{
    return *isoPlain.parse(text);
}

std::string calendarFile(const std::string& body)
{
    return "BEGIN:VCALENDAR\r\nVERSION:2.0\r\nPRODID:test\r\n" + body + "END:VCALENDAR\r\n";
}

std::string timedEvent(const std::string& uid, const std::string& title, const std::string& start)
{
    return calendarFile("BEGIN:VEVENT\r\nUID:" + uid + "\r\nSUMMARY:" + title + "\r\nDTSTART:" + start
        + "\r\nDURATION:PT1H\r\nEND:VEVENT\r\n");
}

std::vector<std::string> starts(const std::vector<Event>& events)
{
    std::vector<std::string> texts;
    for (const auto& event : events)
        texts.push_back(event.title + " " + formatDate(*event.start));
    std::sort(texts.begin(), texts.end());
    return texts;
}

std::vector<std::string> folderNames(const std::string& path)
{
    std::vector<std::string> names;
    if (DIR* directory = ::opendir(path.c_str())) {
        while (dirent* entry = ::readdir(directory)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        ::closedir(directory);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<Reminder> fetch(VdirCalendarStore& store, ReminderQuery query)
{
    std::vector<Reminder> result;
    store.fetchReminders(query, [&](std::vector<Reminder> reminders) { result = std::move(reminders); });
    return result;
}

class VdirStore : public ::testing::Test {
protected:
    VdirStore()
    {
        ::setenv("TZ", "America/Sao_Paulo", 1);
        ::tzset();
    }

    std::string calendarFolder() const { return root + "/calendars/calendario"; }
    std::string listFolder() const { return root + "/reminders/lembretes"; }
    void touchLayout() { store.calendars(EntityKind::events); }

    TemporaryFolder data;
    std::string root = data.path.string() + "/share/tarvio";
    VdirCalendarStore store {root};
};

}

TEST_F(VdirStore, FirstUseCreatesTheTwoDefaultCollections)
{
    EXPECT_EQ(store.authorizationStatus(EntityKind::events), authorization::fullAccess);
    EXPECT_FALSE(exists(data.path.string() + "/share")) << "reading the status created the store";

    auto calendars = store.calendars(EntityKind::events);
    ASSERT_EQ(calendars.size(), 1u);
    EXPECT_EQ(calendars[0].title, "Calendário");
    EXPECT_TRUE(calendars[0].writable);
    EXPECT_TRUE(calendars[0].color);
    EXPECT_EQ(store.defaultCalendar(EntityKind::events)->identifier, calendars[0].identifier);
    auto lists = store.calendars(EntityKind::reminders);
    ASSERT_EQ(lists.size(), 1u);
    EXPECT_EQ(lists[0].title, "Lembretes");
    EXPECT_EQ(store.defaultCalendar(EntityKind::reminders)->identifier, lists[0].identifier);
    EXPECT_EQ(folderNames(data.path.string() + "/share"), std::vector<std::string> {"tarvio"});

    // A user who removed a default keeps it removed.
    std::filesystem::remove_all(calendarFolder());
    EXPECT_TRUE(store.calendars(EntityKind::events).empty());
    EXPECT_FALSE(store.defaultCalendar(EntityKind::events));
}

TEST_F(VdirStore, CreatedEventsAreWrittenInUtcAndReadBack)
{
    auto calendar = *store.defaultCalendar(EntityKind::events);
    NewEvent timed {calendar.identifier, "  Reunião, sala; 2\n", at("2026-11-15T13:00:00Z"), at("2026-11-15T14:00:00Z"),
        false, std::string(""), std::string("a\\b"), -900.0};
    Event saved = store.saveEvent(timed);
    EXPECT_EQ(saved.title, timed.title);
    EXPECT_EQ(saved.location, "");
    EXPECT_EQ(saved.notes, "a\\b");
    EXPECT_EQ(saved.calendar->title, "Calendário");

    NewEvent allDay {calendar.identifier, "Feriado", at("2026-11-20T03:00:00Z"), at("2026-11-20T03:00:00Z"), true,
        std::nullopt, std::nullopt, std::nullopt};
    Event holiday = store.saveEvent(allDay);
    EXPECT_TRUE(holiday.allDay);
    EXPECT_EQ(formatDate(*holiday.start), "2026-11-20T03:00:00Z");
    EXPECT_EQ(formatDate(*holiday.end), "2026-11-21T03:00:00Z");

    std::string timedText = readText(calendarFolder() + "/" + saved.identifier.substr(saved.identifier.rfind('/') + 1) + ".ics");
    EXPECT_NE(timedText.find("DTSTART:20261115T130000Z"), std::string::npos) << timedText;
    EXPECT_NE(timedText.find("TRIGGER:-PT15M"), std::string::npos) << timedText;
    std::string dayText = readText(calendarFolder() + "/" + holiday.identifier.substr(holiday.identifier.rfind('/') + 1) + ".ics");
    EXPECT_NE(dayText.find("DTSTART;VALUE=DATE:20261120"), std::string::npos) << dayText;
    EXPECT_NE(dayText.find("DTEND;VALUE=DATE:20261121"), std::string::npos) << dayText;

    auto listed = store.events(at("2026-11-01T00:00:00Z"), at("2026-12-01T00:00:00Z"));
    ASSERT_EQ(listed.size(), 2u);
    std::set<std::string> identifiers {listed[0].identifier, listed[1].identifier};
    EXPECT_EQ(identifiers, (std::set<std::string> {saved.identifier, holiday.identifier}));
    for (const auto& event : listed) {
        if (event.identifier == saved.identifier) {
            EXPECT_EQ(event.title, timed.title);
        }
    }
    // Ranges overlap, end exclusive.
    EXPECT_EQ(store.events(at("2026-11-15T14:00:00Z"), at("2026-11-15T15:00:00Z")).size(), 0u);
    EXPECT_EQ(store.events(at("2026-11-15T13:59:59Z"), at("2026-11-15T14:00:00Z")).size(), 1u);
    EXPECT_EQ(folderNames(calendarFolder()).size(), 4u) << "no temporary file is left behind";
}

TEST_F(VdirStore, RemindersKeepFloatingDueDatesAndComplete)
{
    auto list = *store.defaultCalendar(EntityKind::reminders);
    NewReminder pao {list.identifier, " Pão ", std::string(""), DateComponents {2026, 11, 16, 5, 30, 0, std::nullopt},
        at("2026-11-16T08:30:00Z") + std::chrono::milliseconds(500)};
    Reminder saved = store.saveReminder(pao);
    EXPECT_EQ(saved.title, " Pão ");
    EXPECT_EQ(saved.notes, "");
    EXPECT_EQ(saved.due->hour, 5);
    EXPECT_FALSE(saved.due->utcOffsetSeconds);
    Reminder plain = store.saveReminder({list.identifier, "Sem data", std::nullopt, std::nullopt, std::nullopt});

    std::string name = saved.identifier.substr(saved.identifier.rfind('/') + 1) + ".ics";
    std::string text = readText(listFolder() + "/" + name);
    EXPECT_NE(text.find("DUE:20261116T053000\r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("TRIGGER;VALUE=DATE-TIME:20261116T083000Z"), std::string::npos) << text;

    EXPECT_EQ(fetch(store, ReminderQuery::all).size(), 2u);
    EXPECT_EQ(fetch(store, ReminderQuery::completed).size(), 0u);
    Reminder done = store.completeReminder(*store.reminder(saved.identifier));
    EXPECT_TRUE(done.completed);
    EXPECT_EQ(done.title, " Pão ");
    EXPECT_EQ(done.notes, "");
    text = readText(listFolder() + "/" + name);
    EXPECT_NE(text.find("STATUS:COMPLETED"), std::string::npos) << text;
    EXPECT_NE(text.find("\r\nCOMPLETED:"), std::string::npos) << text;
    EXPECT_NE(text.find("SUMMARY: Pão \r\n"), std::string::npos) << text;
    EXPECT_NE(text.find("DUE:20261116T053000\r\n"), std::string::npos) << text;
    EXPECT_TRUE(store.completeReminder(done).completed);

    auto completed = fetch(store, ReminderQuery::completed);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].identifier, saved.identifier);
    auto open = fetch(store, ReminderQuery::incomplete);
    ASSERT_EQ(open.size(), 1u);
    EXPECT_EQ(open[0].identifier, plain.identifier);
}

TEST_F(VdirStore, ExpandsRecurrenceWithExceptionsAndOverrides)
{
    touchLayout();
    // The file's zone is wrong on purpose (no daylight time): a known TZID
    // must be read with the built-in zone.
    std::string wrongZone = "BEGIN:VTIMEZONE\r\nTZID:America/New_York\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                            "TZOFFSETFROM:-0500\r\nTZOFFSETTO:-0500\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
    writeText(calendarFolder() + "/weekly.ics",
        calendarFile(wrongZone
            + "BEGIN:VEVENT\r\nUID:weekly\r\nSUMMARY:Aula\r\nDTSTART;TZID=America/New_York:20261019T090000\r\n"
              "DTEND;TZID=America/New_York:20261019T100000\r\nRRULE:FREQ=WEEKLY;COUNT=6\r\n"
              "EXDATE;TZID=America/New_York:20261026T090000\r\nRDATE;TZID=America/New_York:20261028T150000\r\n"
              "END:VEVENT\r\n"
              "BEGIN:VEVENT\r\nUID:weekly\r\nSUMMARY:Aula movida\r\nRECURRENCE-ID;TZID=America/New_York:20261109T090000\r\n"
              "DTSTART;TZID=America/New_York:20261109T110000\r\nDTEND;TZID=America/New_York:20261109T120000\r\n"
              "END:VEVENT\r\n"));
    std::string customZone = "BEGIN:VTIMEZONE\r\nTZID:Escritorio\r\nBEGIN:STANDARD\r\nDTSTART:19700101T000000\r\n"
                             "TZOFFSETFROM:+0100\r\nTZOFFSETTO:+0100\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\n";
    writeText(calendarFolder() + "/custom.ics",
        calendarFile(customZone
            + "BEGIN:VEVENT\r\nUID:custom\r\nSUMMARY:Local\r\nDTSTART;TZID=Escritorio:20261102T100000\r\n"
              "DURATION:PT30M\r\nRRULE:FREQ=DAILY;COUNT=2\r\nEND:VEVENT\r\n"));
    writeText(calendarFolder() + "/birthday.ics",
        calendarFile("BEGIN:VEVENT\r\nUID:b\r\nSUMMARY:Aniversário\r\nDTSTART;VALUE=DATE:19801103\r\n"
                     "DTEND;VALUE=DATE:19801104\r\nRRULE:FREQ=YEARLY\r\nEND:VEVENT\r\n"));
    writeText(calendarFolder() + "/daily.ics",
        calendarFile("BEGIN:VEVENT\r\nUID:d\r\nSUMMARY:Diário\r\nDTSTART:19900101T120000Z\r\nDURATION:PT1H\r\n"
                     "RRULE:FREQ=DAILY\r\nEND:VEVENT\r\n"));
    writeText(calendarFolder() + "/orphan.ics",
        calendarFile("BEGIN:VEVENT\r\nUID:o\r\nSUMMARY:Órfão\r\nRECURRENCE-ID:20261105T120000Z\r\n"
                     "DTSTART:20261105T130000Z\r\nDURATION:PT1H\r\nEND:VEVENT\r\n"));

    auto all = store.events(at("2026-10-01T00:00:00Z"), at("2026-12-01T00:00:00Z"));
    std::vector<std::string> classes;
    for (const auto& event : all) {
        if (event.title.rfind("Aula", 0) == 0)
            classes.push_back(event.title + " " + formatDate(*event.start) + " " + formatDate(*event.end));
    }
    std::sort(classes.begin(), classes.end());
    EXPECT_EQ(classes, (std::vector<std::string> {
                           "Aula 2026-10-19T13:00:00Z 2026-10-19T14:00:00Z",
                           "Aula 2026-10-28T19:00:00Z 2026-10-28T20:00:00Z",
                           "Aula 2026-11-02T14:00:00Z 2026-11-02T15:00:00Z",
                           "Aula 2026-11-16T14:00:00Z 2026-11-16T15:00:00Z",
                           "Aula 2026-11-23T14:00:00Z 2026-11-23T15:00:00Z",
                           "Aula movida 2026-11-09T16:00:00Z 2026-11-09T17:00:00Z",
                       }));

    auto week = store.events(at("2026-11-02T00:00:00Z"), at("2026-11-09T00:00:00Z"));
    EXPECT_EQ(starts(week), (std::vector<std::string> {
                                "Aniversário 2026-11-03T03:00:00Z",
                                "Aula 2026-11-02T14:00:00Z",
                                "Diário 2026-11-02T12:00:00Z",
                                "Diário 2026-11-03T12:00:00Z",
                                "Diário 2026-11-04T12:00:00Z",
                                "Diário 2026-11-05T12:00:00Z",
                                "Diário 2026-11-06T12:00:00Z",
                                "Diário 2026-11-07T12:00:00Z",
                                "Diário 2026-11-08T12:00:00Z",
                                "Local 2026-11-02T09:00:00Z",
                                "Local 2026-11-03T09:00:00Z",
                                "Órfão 2026-11-05T13:00:00Z",
                            }));
    // Occurrences of one item share its identifier.
    std::set<std::string> daily;
    for (const auto& event : week) {
        if (event.title == "Diário")
            daily.insert(event.identifier);
    }
    EXPECT_EQ(daily.size(), 1u);
}

TEST_F(VdirStore, SkipsWhatItCannotReadAndRepairsText)
{
    touchLayout();
    std::string folder = calendarFolder();
    writeText(folder + "/good.ics", timedEvent("g", "Bom \xff\xfe fim", "20261115T120000Z"));
    writeText(folder + "/garbage.ics", "this is not a calendar\n\x01\x02");
    writeText(folder + "/empty.ics", "");
    writeText(folder + "/nostart.ics", calendarFile("BEGIN:VEVENT\r\nUID:n\r\nSUMMARY:Sem início\r\nEND:VEVENT\r\n"));
    writeText(folder + "/.hidden.ics", timedEvent("h", "Oculto", "20261115T120000Z"));
    writeText(folder + "/.half.ics.tmp", timedEvent("t", "Meio", "20261115T120000Z"));
    writeText(folder + "/half.ics.tmp", timedEvent("t2", "Meio", "20261115T120000Z"));
    writeText(folder + "/notes.txt", timedEvent("x", "Texto", "20261115T120000Z"));
    ::mkdir((folder + "/folder.ics").c_str(), 0700);
    writeText(folder + "/todo.ics", calendarFile("BEGIN:VTODO\r\nUID:t\r\nSUMMARY:Tarefa\r\nEND:VTODO\r\n"));

    auto events = store.events(at("2026-11-15T00:00:00Z"), at("2026-11-16T00:00:00Z"));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].title, "Bom \xEF\xBF\xBD\xEF\xBF\xBD fim");
}

TEST_F(VdirStore, ParsesOnlyChangedFilesAndSeesPeersEdits)
{
    touchLayout();
    for (int i = 0; i < 5; ++i)
        writeText(calendarFolder() + "/e" + std::to_string(i) + ".ics",
            timedEvent("e" + std::to_string(i), "E" + std::to_string(i), "20261115T12000" + std::to_string(i) + "Z"));
    auto from = at("2026-11-15T00:00:00Z"), to = at("2026-11-16T00:00:00Z");
    EXPECT_EQ(store.events(from, to).size(), 5u);
    size_t parsed = store.parsedFileCount();
    EXPECT_EQ(parsed, 5u);
    store.events(from, to);
    store.events(from, to);
    EXPECT_EQ(store.parsedFileCount(), parsed);

    // A peer replaces one file (same size) and adds and removes others.
    vdir::writeFileAtomically(calendarFolder(), "e1.ics", timedEvent("e1", "X1", "20261115T120001Z"));
    writeText(calendarFolder() + "/new.ics", timedEvent("n", "Novo", "20261115T130000Z"));
    ::unlink((calendarFolder() + "/e4.ics").c_str());
    // ...and one is rewritten in place.
    writeText(calendarFolder() + "/e0.ics", timedEvent("e0", "Y0", "20261115T120000Z"));
    auto titles = starts(store.events(from, to));
    EXPECT_EQ(titles, (std::vector<std::string> {"E2 2026-11-15T12:00:02Z", "E3 2026-11-15T12:00:03Z",
                          "Novo 2026-11-15T13:00:00Z", "X1 2026-11-15T12:00:01Z", "Y0 2026-11-15T12:00:00Z"}));
    EXPECT_EQ(store.parsedFileCount(), parsed + 3);
    store.events(from, to);
    EXPECT_EQ(store.parsedFileCount(), parsed + 3);

    // A collection removed and made again is read afresh.
    std::filesystem::remove_all(calendarFolder());
    EXPECT_TRUE(store.events(from, to).empty());
    std::filesystem::create_directories(calendarFolder());
    writeText(calendarFolder() + "/back.ics", timedEvent("b", "Volta", "20261115T120000Z"));
    EXPECT_EQ(starts(store.events(from, to)), std::vector<std::string> {"Volta 2026-11-15T12:00:00Z"});
}

TEST_F(VdirStore, IdentifiersNeverNameFilesOutsideTheStore)
{
    auto list = *store.defaultCalendar(EntityKind::reminders);
    Reminder saved = store.saveReminder({list.identifier, "a", std::nullopt, std::nullopt, std::nullopt});
    Event event = store.saveEvent({store.defaultCalendar(EntityKind::events)->identifier, "e", at("2026-11-15T12:00:00Z"),
        at("2026-11-15T13:00:00Z"), false, std::nullopt, std::nullopt, std::nullopt});
    writeText(data.path.string() + "/outside.ics", calendarFile("BEGIN:VTODO\r\nUID:o\r\nSUMMARY:Fora\r\nEND:VTODO\r\n"));

    std::string name = saved.identifier.substr(saved.identifier.rfind('/') + 1);
    for (const std::string& identifier : std::vector<std::string> {event.identifier, "../../../outside",
             "reminders/lembretes/../../../../outside", "reminders/lembretes/" + name + ".ics",
             "reminders/lembretes/" + name + std::string("\0x", 2), "/" + saved.identifier, saved.identifier + "/",
             std::string(100000, '/'), std::string(), saved.identifier + "#1"})
        EXPECT_FALSE(store.reminder(identifier)) << identifier;
    EXPECT_TRUE(store.reminder(saved.identifier));

    Reminder forged = saved;
    forged.identifier = "../../../outside";
    EXPECT_THROW(store.completeReminder(forged), StoreError);
    EXPECT_EQ(readText(data.path.string() + "/outside.ics").find("COMPLETED"), std::string::npos);
}

TEST_F(VdirStore, FilesWithSeveralTodosGiveOneReminderEach)
{
    touchLayout();
    writeText(listFolder() + "/pair.ics",
        calendarFile("BEGIN:VTODO\r\nUID:one\r\nSUMMARY:Um\r\nDUE;TZID=America/New_York:20261115T090000\r\nEND:VTODO\r\n"
                     "BEGIN:VTODO\r\nUID:two\r\nSUMMARY:Dois\r\nDUE;VALUE=DATE:20261116\r\nEND:VTODO\r\n"));
    auto reminders = fetch(store, ReminderQuery::all);
    ASSERT_EQ(reminders.size(), 2u);
    EXPECT_NE(reminders[0].identifier, reminders[1].identifier);
    EXPECT_EQ(reminders[0].due->utcOffsetSeconds, -5 * 3600);
    EXPECT_FALSE(reminders[1].due->utcOffsetSeconds);

    store.completeReminder(reminders[1]);
    auto completed = fetch(store, ReminderQuery::completed);
    ASSERT_EQ(completed.size(), 1u);
    EXPECT_EQ(completed[0].title, "Dois");
    EXPECT_EQ(fetch(store, ReminderQuery::incomplete)[0].title, "Um");
}

// Completion rewrites only what completion means; {now} is the completion stamp.
struct CompletionCase {
    const char* writer;
    std::string title;
    std::string original;
    std::string completed;
};

std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
    return text;
}

TEST_F(VdirStore, CompletionKeepsEveryOtherLineAsOtherProgramsWroteIt)
{
    const std::string thunderbirdHead = "BEGIN:VCALENDAR\r\nPRODID:-//Mozilla.org/NONSGML Mozilla Calendar V1.1//EN\r\n"
        "VERSION:2.0\r\nBEGIN:VTIMEZONE\r\nTZID:America/Sao_Paulo\r\nBEGIN:STANDARD\r\nTZOFFSETFROM:-030628\r\n"
        "TZOFFSETTO:-0300\r\nTZNAME:-03\r\nDTSTART:19700101T000000\r\nEND:STANDARD\r\nEND:VTIMEZONE\r\nBEGIN:VTODO\r\n";
    const std::string thunderbirdAlarm = "BEGIN:VALARM\r\nACTION:DISPLAY\r\nTRIGGER;VALUE=DURATION:-PT15M\r\n"
        "DESCRIPTION:Default Mozilla Description\r\nEND:VALARM\r\nEND:VTODO\r\nEND:VCALENDAR\r\n";
    const std::string firstTodo = "BEGIN:VCALENDAR\nVERSION:2.0\nPRODID:-//CALENDARSERVER.ORG//NONSGML Version 1//EN\n"
        "BEGIN:VTODO\nUID:other\nSUMMARY:Outra\nSTATUS:NEEDS-ACTION\nX-APPLE-SORT-ORDER:1\nEND:VTODO\n";
    const std::vector<CompletionCase> cases {
        {"Thunderbird", "Relatório trimestral com um título bem comprido que a linha dobra no meio do texto",
            thunderbirdHead
                + "CREATED:20261101T120000Z\r\nLAST-MODIFIED:20261101T120000Z\r\nDTSTAMP:20261101T120000Z\r\nUID:tb-1\r\n"
                  "SUMMARY:Relatório trimestral com um título bem comprido que a linha dobra no \r\n meio do texto\r\n"
                  "CATEGORIES:Trabalho,Urgente\r\nX-MOZ-GENERATION:2\r\nDUE;TZID=America/Sao_Paulo:20261120T170000\r\n"
                  "STATUS:NEEDS-ACTION\r\nPERCENT-COMPLETE:0\r\nSEQUENCE:1\r\n"
                + thunderbirdAlarm,
            thunderbirdHead
                + "CREATED:20261101T120000Z\r\nLAST-MODIFIED:{now}\r\nDTSTAMP:{now}\r\nUID:tb-1\r\n"
                  "SUMMARY:Relatório trimestral com um título bem comprido que a linha dobra no \r\n meio do texto\r\n"
                  "CATEGORIES:Trabalho,Urgente\r\nX-MOZ-GENERATION:2\r\nDUE;TZID=America/Sao_Paulo:20261120T170000\r\n"
                  "STATUS:COMPLETED\r\nPERCENT-COMPLETE:100\r\nSEQUENCE:2\r\nCOMPLETED:{now}\r\n"
                + thunderbirdAlarm},
        {"a CalDAV server, second to-do of the file, LF line ends", "Comprar leite",
            firstTodo
                + "BEGIN:VTODO\nSUMMARY:Comprar leite\nUID:srv-2\nDTSTAMP:20261101T120000Z\nCATEGORIES:casa,mercado\n"
                  "PRIORITY:0\nX-APPLE-SORT-ORDER:123456\nX-CUSTOM;X-PARAM=\"a:b\":valor\nEND:VTODO\nEND:VCALENDAR\n",
            firstTodo
                + "BEGIN:VTODO\nSUMMARY:Comprar leite\nUID:srv-2\nDTSTAMP:{now}\nCATEGORIES:casa,mercado\n"
                  "PRIORITY:0\nX-APPLE-SORT-ORDER:123456\nX-CUSTOM;X-PARAM=\"a:b\":valor\nCOMPLETED:{now}\n"
                  "LAST-MODIFIED:{now}\nPERCENT-COMPLETE:100\nSTATUS:COMPLETED\nEND:VTODO\nEND:VCALENDAR\n"},
    };
    touchLayout();
    for (const auto& test : cases) {
        std::filesystem::remove_all(listFolder());
        std::filesystem::create_directories(listFolder());
        writeText(listFolder() + "/task.ics", test.original);
        std::optional<Reminder> target;
        for (auto& reminder : fetch(store, ReminderQuery::all)) {
            if (reminder.title == test.title)
                target = reminder;
        }
        ASSERT_TRUE(target) << test.writer;
        EXPECT_TRUE(store.completeReminder(*target).completed) << test.writer;
        std::string text = readText(listFolder() + "/task.ics");
        auto stamp = text.find("\nCOMPLETED:");
        ASSERT_NE(stamp, std::string::npos) << text;
        EXPECT_EQ(text, replaced(test.completed, "{now}", text.substr(stamp + 11, 16))) << test.writer;
        auto completed = fetch(store, ReminderQuery::completed);
        ASSERT_EQ(completed.size(), 1u) << test.writer;
        EXPECT_EQ(completed[0].title, test.title);
    }
}

TEST_F(VdirStore, RecurringTodoIsListedWhateverComesFirstInItsFile)
{
    touchLayout();
    writeText(listFolder() + "/series.ics",
        calendarFile("BEGIN:VTODO\r\nUID:s\r\nRECURRENCE-ID:20261109T090000Z\r\nSUMMARY:Regar (adiado)\r\n"
                     "DUE:20261110T090000Z\r\nEND:VTODO\r\n"
                     "BEGIN:VTODO\r\nUID:s\r\nSUMMARY:Regar\r\nDUE:20261102T090000Z\r\nRRULE:FREQ=WEEKLY\r\nEND:VTODO\r\n"));
    auto reminders = fetch(store, ReminderQuery::all);
    ASSERT_EQ(reminders.size(), 1u);
    EXPECT_EQ(reminders[0].title, "Regar");
    EXPECT_TRUE(store.completeReminder(reminders[0]).completed);
    std::string text = readText(listFolder() + "/series.ics");
    EXPECT_EQ(text.find("STATUS:COMPLETED"), text.rfind("STATUS:COMPLETED"));
    EXPECT_GT(text.find("STATUS:COMPLETED"), text.find("SUMMARY:Regar\r\n")) << "the override was completed";
}

TEST_F(VdirStore, KeepsNoFileItCannotReadBack)
{
    auto calendar = *store.defaultCalendar(EntityKind::events);
    auto list = *store.defaultCalendar(EntityKind::reminders);
    // libical writes years after 3000 as 00000000T000000.
    NewEvent far {calendar.identifier, "Longe", at("3001-06-01T10:00:00Z"), at("3001-06-01T11:00:00Z")};
    EXPECT_THROW(store.saveEvent(far), StoreError);
    // More than a listing reads.
    NewEvent huge {calendar.identifier, "Grande", at("2026-11-15T10:00:00Z"), at("2026-11-15T11:00:00Z")};
    huge.notes = std::string(17 * 1024 * 1024, 'x');
    EXPECT_THROW(store.saveEvent(huge), StoreError);
    NewReminder bigReminder {list.identifier, "Grande", std::string(17 * 1024 * 1024, 'x'), std::nullopt, std::nullopt};
    EXPECT_THROW(store.saveReminder(bigReminder), StoreError);
    EXPECT_EQ(folderNames(calendarFolder()), (std::vector<std::string> {"color", "displayname"}));
    EXPECT_EQ(folderNames(listFolder()), (std::vector<std::string> {"color", "displayname"}));

    // Identifiers holding a NUL name nothing, so nothing is written.
    NewEvent cut {calendar.identifier + std::string(1, '\0') + "x", "A", at("2026-11-15T10:00:00Z"), at("2026-11-15T11:00:00Z")};
    EXPECT_THROW(store.saveEvent(cut), StoreError);
    Reminder saved = store.saveReminder({list.identifier, "Um", std::nullopt, std::nullopt, std::nullopt});
    EXPECT_FALSE(store.reminder(saved.identifier + std::string(1, '\0')));
    EXPECT_FALSE(store.reminder(std::string(1, '\0') + saved.identifier));
}

TEST_F(VdirStore, WritesNoRawControlCharacterIntoTexts)
{
    auto calendar = *store.defaultCalendar(EntityKind::events);
    NewEvent event {calendar.identifier, "A\x01" "B\tC", at("2026-11-15T10:00:00Z"), at("2026-11-15T11:00:00Z")};
    event.notes = "linha 1\r\nlinha 2\rfim\x7f";
    Event saved = store.saveEvent(event);
    EXPECT_EQ(saved.title, "A\uFFFDB\tC");
    EXPECT_EQ(saved.notes, "linha 1\nlinha 2\nfim\uFFFD");
    std::string text = readText(calendarFolder() + "/" + saved.identifier.substr(saved.identifier.rfind('/') + 1) + ".ics");
    for (char c : text)
        EXPECT_TRUE(static_cast<unsigned char>(c) >= 0x20 || c == '\r' || c == '\n' || c == '\t') << int(c);
    EXPECT_EQ(text.find('\x7f'), std::string::npos);
}

TEST_F(VdirStore, RemovesOldLeftoversOfInterruptedWrites)
{
    touchLayout();
    std::string old = calendarFolder() + "/.A1B2.ics.Qx81Zp.tmp";
    std::string young = calendarFolder() + "/.C3D4.ics.Lm02Rt.tmp";
    std::string peers = calendarFolder() + "/.other-program.tmp";
    for (const auto& path : {old, young, peers})
        writeText(path, "BEGIN:VCALENDAR\r\n");
    timespec times[2] = {{::time(nullptr) - 2 * 3600, 0}, {::time(nullptr) - 2 * 3600, 0}};
    ::utimensat(AT_FDCWD, old.c_str(), times, 0);
    ::utimensat(AT_FDCWD, peers.c_str(), times, 0);
    EXPECT_TRUE(store.events(at("2026-01-01T00:00:00Z"), at("2027-01-01T00:00:00Z")).empty());
    EXPECT_FALSE(exists(old));
    EXPECT_TRUE(exists(young)) << "a write may still be under way";
    EXPECT_TRUE(exists(peers)) << "not ours";
}

TEST_F(VdirStore, FailedWritesLeaveNothingBehind)
{
    touchLayout();
    EXPECT_THROW(vdir::writeFileAtomically(root + "/missing", "a.ics", "x"), StoreError);
    try {
        vdir::writeFileAtomically(root + "/missing", "a.ics", "x");
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos) << error.what();
    }

    // A write that fails half-way (here: past the file-size limit, as on a
    // full disk) keeps the old file and leaves no temporary one.
    auto calendar = *store.defaultCalendar(EntityKind::events);
    vdir::writeFileAtomically(calendarFolder(), "old.ics", timedEvent("old", "Antigo", "20261115T120000Z"));
    auto before = folderNames(calendarFolder());
    {
        auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit original;
        ::getrlimit(RLIMIT_FSIZE, &original);
        rlimit tight = original;
        tight.rlim_cur = 64;
        ::setrlimit(RLIMIT_FSIZE, &tight);
        std::string failure;
        try {
            vdir::writeFileAtomically(calendarFolder(), "old.ics", std::string(4096, 'x'));
        } catch (const StoreError& error) {
            failure = error.what();
        }
        EXPECT_THROW(store.saveEvent({calendar.identifier, std::string(200, 'e'), at("2026-11-15T12:00:00Z"),
                         at("2026-11-15T13:00:00Z"), false, std::nullopt, std::nullopt, std::nullopt}),
            StoreError);
        ::setrlimit(RLIMIT_FSIZE, &original);
        std::signal(SIGXFSZ, previous);
        EXPECT_NE(failure.find("File too large"), std::string::npos) << failure;
    }
    EXPECT_EQ(folderNames(calendarFolder()), before);
    EXPECT_EQ(starts(store.events(at("2026-11-15T00:00:00Z"), at("2026-11-16T00:00:00Z"))),
        std::vector<std::string> {"Antigo 2026-11-15T12:00:00Z"});

    std::filesystem::remove_all(calendarFolder());
    EXPECT_THROW(store.saveEvent({calendar.identifier, "e", at("2026-11-15T12:00:00Z"), at("2026-11-15T13:00:00Z"),
                     false, std::nullopt, std::nullopt, std::nullopt}),
        StoreError);
    EXPECT_EQ(folderNames(root + "/calendars"), std::vector<std::string> {});
}

TEST_F(VdirStore, StatusFollowsTheFileSystem)
{
    touchLayout();
    std::string folder = root + "/reminders";
    // Root reads and writes everything: the status is read by a child that
    // runs as an ordinary user owning the folder.
    uid_t user = ::geteuid() == 0 ? 65534 : ::geteuid();
    for (const std::string& path : {data.path.string(), data.path.string() + "/share", root})
        ::chmod(path.c_str(), 0711);
    if (::geteuid() == 0)
        ASSERT_EQ(::chown(folder.c_str(), user, user), 0);
    struct Case {
        mode_t mode;
        int status;
    };
    for (auto [mode, status] : std::vector<Case> {{0700, authorization::fullAccess}, {0300, authorization::writeOnly},
             {0500, authorization::denied}, {0000, authorization::denied}}) {
        ::chmod(folder.c_str(), mode);
        pid_t child = ::fork();
        if (child == 0) {
            if (::geteuid() == 0 && (::setgid(user) != 0 || ::setuid(user) != 0))
                ::_exit(100);
            ::_exit(store.authorizationStatus(EntityKind::reminders));
        }
        int result = 0;
        ::waitpid(child, &result, 0);
        ASSERT_TRUE(WIFEXITED(result));
        EXPECT_EQ(WEXITSTATUS(result), status) << "mode " << std::oct << mode;
    }
    ::chmod(folder.c_str(), 0700);
    EXPECT_EQ(store.authorizationStatus(EntityKind::events), authorization::fullAccess);
}

TEST(Recurrence, SkippingAheadGivesTheSameOccurrencesAsWalkingFromTheStart)
{
    ::setenv("TZ", "America/Sao_Paulo", 1);
    ::tzset();
    auto seconds = [](const std::string& text) {
        return std::chrono::floor<std::chrono::seconds>(at(text)).time_since_epoch().count();
    };
    for (std::string rule : {"FREQ=DAILY;INTERVAL=3", "FREQ=WEEKLY;BYDAY=MO,WE,FR", "FREQ=WEEKLY;INTERVAL=2;BYDAY=TU",
             "FREQ=MONTHLY;BYDAY=2TU", "FREQ=MONTHLY;BYMONTHDAY=30", "FREQ=MONTHLY;INTERVAL=2",
             "FREQ=YEARLY;INTERVAL=3;BYMONTH=11", "FREQ=DAILY;INTERVAL=3;BYDAY=MO", "FREQ=MONTHLY;BYDAY=-1FR",
             "FREQ=YEARLY;BYMONTH=11;BYDAY=4TH", "FREQ=HOURLY;INTERVAL=7", "FREQ=DAILY;UNTIL=20261110T000000Z"}) {
        for (std::string start : {"DTSTART:20200114T093000Z", "DTSTART;TZID=America/New_York:20200114T093000",
                 "DTSTART;VALUE=DATE:20200114"}) {
            auto parsed = vdir::parseIcs("BEGIN:VCALENDAR\r\nBEGIN:VEVENT\r\nUID:r\r\n" + start
                + "\r\nDURATION:PT2H\r\nRRULE:" + rule + "\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n");
            ASSERT_EQ(parsed.events.size(), 1u);
            const auto& event = parsed.events[0];
            vdir::Seconds from = seconds("2026-11-01T00:00:00Z"), to = seconds("2026-12-01T00:00:00Z");
            std::vector<std::pair<vdir::Seconds, vdir::Seconds>> skipped, walked;
            vdir::expandEvent(event, from, to, [&](auto first, auto last) { skipped.emplace_back(first, last); });
            vdir::expandEvent(event, seconds("2019-01-01T00:00:00Z"), to, [&](auto first, auto last) {
                if (last > from)
                    walked.emplace_back(first, last);
            });
            EXPECT_EQ(skipped, walked) << rule << " " << start;
            EXPECT_FALSE(walked.empty() && rule.find("UNTIL") == std::string::npos) << rule << " " << start;
        }
    }
}
