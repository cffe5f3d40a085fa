#include "calendar/CalendarHandlers.h"
#include "calendar/CalendarTestSupport.h"

using namespace tarvio;
using namespace tarvio::testing;

using EventMethods = CalendarMethodsTest;

namespace {

Event event(const std::string& identifier, const std::string& start, bool allDay = false)
{
    Event result;
    result.identifier = identifier;
    result.title = identifier;
    result.start = at(start);
    result.end = at(start) + std::chrono::hours(1);
    result.allDay = allDay;
    return result;
}

}

TEST_F(EventMethods, DatesAreCheckedInOrderBeforeAccess)
{
    store.status[EntityKind::events] = authorization::denied;
    struct Case {
        Json params;
        std::string message;
    };
    for (const auto& [params, message] : std::vector<Case> {
             {Json::object(), dateError("from")},
             {{{"to", "2026-11-15T00:00:00Z"}}, dateError("from")},
             {{{"from", "2026-11-15"}, {"to", "2026-11-16T00:00:00Z"}}, dateError("from")},
             {{{"from", "2026-11-15T00:00:00Z"}}, dateError("to")},
             {{{"from", "2026-11-15T00:00:00Z"}, {"to", nullptr}}, dateError("to")},
             {{{"from", "2026-11-15T00:00:00Z"}, {"to", 5}}, dateError("to")},
             {{{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-15T00:00:00Z"}}, "to deve ser depois de from"},
             {{{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-14T20:59:59-03:00"}}, "to deve ser depois de from"},
         }) {
        auto outcome = call("calendar.events", params);
        EXPECT_EQ(outcome.code, "invalid_params") << params;
        EXPECT_EQ(outcome.message, message) << params;
    }
    EXPECT_EQ(store.storeReads, 0);
}

TEST_F(EventMethods, ListsTheRangeSortedStablyByStart)
{
    store.storedEvents = {event("late", "2026-11-15T12:00:00Z"), event("allDay", "2026-11-15T03:00:00Z", true),
        event("timed", "2026-11-15T03:00:00Z"), event("early", "2026-11-15T01:00:00Z")};
    auto outcome = call("calendar.events", {{"from", "2026-11-15T00:00:00.250Z"}, {"to", "2026-11-15T00:00:01.250Z"}});
    ASSERT_EQ(outcome.code, "");
    EXPECT_EQ(store.askedRange->first, at("2026-11-15T00:00:00Z") + std::chrono::milliseconds(250));
    std::vector<std::string> order;
    for (const auto& item : outcome.result)
        order.push_back(item["id"]);
    EXPECT_EQ(order, (std::vector<std::string> {"early", "allDay", "timed", "late"}));

    store.storedEvents.clear();
    EXPECT_EQ(call("calendar.events", {{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-15T00:00:01Z"}}).result, Json::array());
}

TEST_F(EventMethods, EventObjectCarriesEveryMember)
{
    Event bare;
    bare.start = at("2026-11-15T10:00:00Z") + std::chrono::milliseconds(750);
    EXPECT_EQ(eventJSON(bare), (Json {{"id", ""}, {"title", ""}, {"start", "2026-11-15T10:00:00Z"}, {"end", nullptr},
                                   {"calendar", ""}, {"location", nullptr}, {"notes", nullptr}, {"url", nullptr},
                                   {"allDay", false}}));
    Event full = bare;
    full.calendar = Calendar {"c", "Casa", true, std::nullopt};
    full.location = "";
    full.notes = "n";
    full.url = "https://example.org/a";
    full.allDay = true;
    auto object = eventJSON(full);
    EXPECT_EQ(object["calendar"], "Casa");
    EXPECT_EQ(object["location"], "");
    EXPECT_EQ(object["url"], "https://example.org/a");
    EXPECT_EQ(object["allDay"], true);
}

TEST_F(EventMethods, ListedTextIsTheEventObjectsText)
{
    Event bare;
    bare.start = at("2026-11-15T10:00:00Z") + std::chrono::milliseconds(750);
    Event full = event("id \"quoted\" \\ /", "2026-11-15T11:00:00Z", true);
    full.title = std::string("t\x01\tab\n\xC3\xA9 \xFF\xFE end");
    full.calendar = Calendar {"c", "Ca\"sa\r", true, std::nullopt};
    full.location = "";
    full.notes = std::string("nul \0 inside", 13);
    full.url = "https://example.org/a?b=\"c\"";
    store.storedEvents = {bare, full};
    std::string listed;
    ASSERT_TRUE(writeCompactJson(dispatcher.handle("calendar.events", {{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-16T00:00:00Z"}}), listed));
    std::string expected = "[";
    for (const auto& item : {bare, full}) {
        if (expected.size() > 1)
            expected += ",";
        ASSERT_TRUE(writeCompactJson(eventJSON(item), expected));
    }
    EXPECT_EQ(listed, expected + "]");
}

TEST_F(EventMethods, CreateValidatesTitleStartAndEndInOrder)
{
    store.status[EntityKind::events] = authorization::denied;
    std::string letters(300, 'a');
    const std::string nul(1, '\0');
    struct Case {
        Json params;
        std::string code;
        std::string message;
    };
    for (const auto& [params, code, message] : std::vector<Case> {
             {Json::object(), "invalid_params", "title é obrigatório"},
             {{{"title", 42}, {"start", "x"}}, "invalid_params", "title é obrigatório"},
             {{{"title", "   "}}, "invalid_params", "title é obrigatório"},
             {{{"title", "\n\t\u2028\u3000"}}, "invalid_params", "title é obrigatório"},
             {{{"title", letters + "b"}}, "invalid_params", "title deve ter até 300 caracteres"},
             {{{"title", "a"}}, "invalid_params", dateError("start")},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"end", "amanhã"}}, "invalid_params", dateError("end")},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"end", "2026-11-15T10:00:00Z"}}, "invalid_params",
                 "end deve ser depois de start"},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"allDay", "true"}, {"end", "2026-11-15T09:00:00Z"}},
                 "invalid_params", "end deve ser depois de start"},
             // No text is ever stored cut short at a NUL.
             {{{"title", nul}}, "invalid_params", "title é obrigatório"},
             {{{"title", "a" + nul + "b"}, {"start", "2026-11-15T10:00:00Z"}}, "invalid_params", "title é obrigatório"},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"location", "Sala" + nul}}, "invalid_params",
                 "location não pode conter o caractere U+0000"},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"notes", nul}}, "invalid_params",
                 "notes não pode conter o caractere U+0000"},
             // Years the store cannot write, in UTC or in the machine's zone.
             {{{"title", "a"}, {"start", "3001-01-01T00:00:00Z"}}, "invalid_params", dateError("start")},
             {{{"title", "a"}, {"start", "9999-12-31T23:00:00-23:00"}}, "invalid_params", dateError("start")},
             {{{"title", "a"}, {"start", "0001-01-01T01:00:00Z"}}, "invalid_params", dateError("start")},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"end", "3000-12-31T23:00:00-03:00"}}, "invalid_params",
                 dateError("end")},
             // Valid up to access: the access error comes next.
             {{{"title", "a"}, {"start", "3000-12-31T20:00:00Z"}, {"allDay", true}}, "permission_denied", ""},
             {{{"title", " " + letters + "\n"}, {"start", "2026-11-15T10:00:00Z"}}, "permission_denied", ""},
             {{{"title", letters + "\u0301"}, {"start", "2026-11-15T10:00:00Z"}}, "permission_denied", ""},
             {{{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"allDay", true}, {"end", "2026-11-01T00:00:00Z"}},
                 "permission_denied", ""},
         }) {
        auto outcome = call("calendar.create", params);
        EXPECT_EQ(outcome.code, code) << params;
        if (!message.empty()) {
            EXPECT_EQ(outcome.message, message) << params;
        }
    }
    EXPECT_TRUE(store.savedEvents.empty());
}

TEST_F(EventMethods, CreateDerivesEndsAndSnapsAllDayEvents)
{
    struct Case {
        Json params;
        std::string start;
        std::string end;
        bool allDay;
    };
    // The machine is in São Paulo (UTC-3): local midnight is 03:00Z.
    for (const auto& [params, start, end, allDay] : std::vector<Case> {
             {{{"start", "2026-11-15T10:00:00Z"}}, "2026-11-15T10:00:00Z", "2026-11-15T11:00:00Z", false},
             {{{"start", "2026-11-15T10:00:00Z"}, {"end", nullptr}}, "2026-11-15T10:00:00Z", "2026-11-15T11:00:00Z", false},
             {{{"start", "2026-11-15T10:00:00Z"}, {"end", "2026-11-15T10:00:01Z"}}, "2026-11-15T10:00:00Z",
                 "2026-11-15T10:00:01Z", false},
             {{{"start", "2026-11-15T10:00:00Z"}, {"allDay", true}}, "2026-11-15T03:00:00Z", "2026-11-15T03:00:00Z", true},
             {{{"start", "2026-11-15T10:00:00Z"}, {"allDay", 1}, {"end", "2026-11-14T10:00:00Z"}}, "2026-11-15T03:00:00Z",
                 "2026-11-15T03:00:00Z", true},
             {{{"start", "2026-11-15T02:00:00Z"}, {"allDay", true}, {"end", "2026-11-17T20:00:00Z"}}, "2026-11-14T03:00:00Z",
                 "2026-11-17T03:00:00Z", true},
         }) {
        Json request = params;
        request["title"] = "Evento";
        auto outcome = call("calendar.create", request);
        ASSERT_EQ(outcome.code, "") << params << outcome.message;
        const auto& saved = store.savedEvents.back();
        EXPECT_EQ(formatDate(saved.start), start) << params;
        EXPECT_EQ(formatDate(saved.end), end) << params;
        EXPECT_EQ(saved.allDay, allDay) << params;
        EXPECT_EQ(outcome.result["allDay"], allDay);
        EXPECT_EQ(outcome.result["url"], nullptr);
    }
}

TEST_F(EventMethods, CreateStoresTrimmedTitleTextsAndOneAlarm)
{
    struct Case {
        Json alertMinutes;
        std::optional<double> offset;
    };
    for (const auto& [alertMinutes, offset] : std::vector<Case> {{15, -900.0}, {0, 0.0}, {true, -60.0}, {false, 0.0},
             {0.5, -30.0}, {-5, std::nullopt}, {"15", std::nullopt}, {nullptr, std::nullopt}}) {
        auto outcome = call("calendar.create", {{"title", "  Reunião\n"}, {"start", "2026-11-15T10:00:00Z"},
                                                   {"alertMinutes", alertMinutes}, {"location", " Sala "}, {"notes", ""}});
        ASSERT_EQ(outcome.code, "") << outcome.message;
        const auto& saved = store.savedEvents.back();
        EXPECT_EQ(saved.alarmOffsetSeconds, offset) << alertMinutes;
        EXPECT_EQ(saved.title, "Reunião");
        EXPECT_EQ(saved.location, " Sala ");
        EXPECT_EQ(saved.notes, std::nullopt);
        EXPECT_EQ(outcome.result["title"], "Reunião");
    }
}

TEST_F(EventMethods, CreateChoosesAWritableCalendar)
{
    store.lists[EntityKind::events].push_back({"work2", "Trabalho", true, std::nullopt});
    store.lists[EntityKind::events].push_back({"nfd", "Cafe\u0301", true, std::nullopt});
    struct Case {
        Json calendar;
        std::string chosen;
    };
    for (const auto& [calendar, chosen] : std::vector<Case> {
             {nullptr, "home"}, {"", "home"}, {7, "home"}, {"Trabalho", "work"}, {"Caf\u00e9", "nfd"}}) {
        auto outcome = call("calendar.create", {{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"calendar", calendar}});
        ASSERT_EQ(outcome.code, "") << calendar << outcome.message;
        EXPECT_EQ(store.savedEvents.back().calendarIdentifier, chosen) << calendar;
    }
    for (std::string missing : {"Feriados", "trabalho", "Nada"}) {
        auto outcome = call("calendar.create", {{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}, {"calendar", missing}});
        EXPECT_EQ(outcome.code, "not_found");
        EXPECT_EQ(outcome.message, "agenda não encontrada ou sem permissão de escrita: " + missing);
    }

    store.defaults[EntityKind::events] = "holidays";
    call("calendar.create", {{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}});
    EXPECT_EQ(store.savedEvents.back().calendarIdentifier, "work");

    store.lists[EntityKind::events] = {{"holidays", "Feriados", false, std::nullopt}};
    auto none = call("calendar.create", {{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}});
    EXPECT_EQ(none.code, "not_found");
    EXPECT_EQ(none.message, "nenhuma agenda que aceite novos eventos");
}

TEST_F(EventMethods, FailedSaveIsInternalWithTheReason)
{
    store.saveFailure = "disco cheio";
    auto outcome = call("calendar.create", {{"title", "a"}, {"start", "2026-11-15T10:00:00Z"}});
    EXPECT_EQ(outcome.code, "internal");
    EXPECT_EQ(outcome.message, "disco cheio");
}

TEST_F(EventMethods, CalendarsListEveryCalendarWithColourAndDefault)
{
    auto outcome = call("calendar.calendars", {{"ignored", true}});
    EXPECT_EQ(outcome.result, Json::parse(R"([
        {"title": "Trabalho", "writable": true, "color": "#FF0000", "isDefault": false},
        {"title": "Casa", "writable": true, "color": null, "isDefault": true},
        {"title": "Feriados", "writable": false, "color": null, "isDefault": false}])"));
    store.defaults[EntityKind::events] = "";
    for (const auto& calendar : call("calendar.calendars").result)
        EXPECT_EQ(calendar["isDefault"], false);
    store.lists[EntityKind::events].clear();
    EXPECT_EQ(call("calendar.calendars").result, Json::array());
}

TEST(HexColor, ScalesRoundsAndClamps)
{
    struct Case {
        std::optional<Rgb> color;
        std::optional<std::string> text;
    };
    for (const auto& [color, text] : std::vector<Case> {
             {Rgb {1, 0, 0}, "#FF0000"},
             {Rgb {0.5, 0.25, 1}, "#8040FF"},
             {Rgb {1.7, -0.2, 0.0999}, "#FF0019"},
             {std::nullopt, std::nullopt},
         })
        EXPECT_EQ(hexColor(color), text);
}
