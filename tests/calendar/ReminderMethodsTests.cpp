#include "calendar/CalendarHandlers.h"
#include "calendar/CalendarTestSupport.h"

using namespace tarvio;
using namespace tarvio::testing;

using ReminderMethods = CalendarMethodsTest;

TEST_F(ReminderMethods, ListChoosesTheQueryFromTheCompletedFlag)
{
    struct Case {
        Json params;
        ReminderQuery query;
    };
    for (const auto& [params, query] : std::vector<Case> {{Json::object(), ReminderQuery::all},
             {{{"completed", true}}, ReminderQuery::completed}, {{{"completed", 1}}, ReminderQuery::completed},
             {{{"completed", false}}, ReminderQuery::incomplete}, {{{"completed", "true"}}, ReminderQuery::all},
             {{{"completed", 2}}, ReminderQuery::all}}) {
        EXPECT_EQ(call("reminders.list", params).result, Json::array());
        EXPECT_EQ(store.askedQuery, query) << params;
    }
}

TEST_F(ReminderMethods, ReminderObjectInStoreOrder)
{
    Calendar untitled {"u", "", true, std::nullopt};
    store.storedReminders = {
        {"b", "Pão", std::nullopt, DateComponents {2026, 11, 15, 7, 0, 0, std::nullopt}, store.lists[EntityKind::reminders][0], false},
        {"a", "", "", DateComponents {2026, 11, 15, 7, 0, 0, 3600}, untitled, true},
        {"c", "Sem lista", std::nullopt, DateComponents {2026, 2, 30, 0, 0, 0, std::nullopt}, std::nullopt, false},
    };
    EXPECT_EQ(call("reminders.list").result, Json::parse(R"([
        {"id": "b", "title": "Pão", "due": "2026-11-15T10:00:00Z", "notes": null, "list": "Lembretes", "completed": false},
        {"id": "a", "title": "", "due": "2026-11-15T06:00:00Z", "notes": "", "list": "", "completed": true},
        {"id": "c", "title": "Sem lista", "due": null, "notes": null, "list": "", "completed": false}])"));
}

TEST_F(ReminderMethods, CreateChecksInOrder)
{
    const std::string nul(1, '\0');
    struct Case {
        Json params;
        std::string code;
        std::string message;
    };
    for (const auto& [params, code, message] : std::vector<Case> {
             {{{"due", "x"}}, "invalid_params", "title é obrigatório"},
             {{{"title", 3}}, "invalid_params", "title é obrigatório"},
             {{{"title", " \t\u00a0"}}, "invalid_params", "title é obrigatório"},
             {{{"title", "a"}, {"list", ""}, {"due", "x"}}, "not_found", "lista de lembretes não encontrada: "},
             {{{"title", "a"}, {"list", "lembretes"}}, "not_found", "lista de lembretes não encontrada: lembretes"},
             {{{"title", "a"}, {"due", "2026-11-15"}}, "invalid_params", dateError("due")},
             {{{"title", "a"}, {"due", 5}}, "invalid_params", dateError("due")},
             {{{"title", "a"}, {"due", "3001-01-01T00:00:00Z"}}, "invalid_params", dateError("due")},
             {{{"title", nul}}, "invalid_params", "title é obrigatório"},
             {{{"title", "a"}, {"notes", "x" + nul}}, "invalid_params", "notes não pode conter o caractere U+0000"},
         }) {
        auto outcome = call("reminders.create", params);
        EXPECT_EQ(outcome.code, code) << params;
        EXPECT_EQ(outcome.message, message) << params;
    }
    store.defaults[EntityKind::reminders] = "";
    auto none = call("reminders.create", {{"title", "a"}, {"due", "x"}});
    EXPECT_EQ(none.message, "nenhuma lista de lembretes disponível");
    EXPECT_TRUE(store.savedReminders.empty());
}

TEST_F(ReminderMethods, CreateSavesTheTextsAsReceived)
{
    std::string longTitle(400, 'x');
    struct Case {
        Json params;
        std::string title;
        std::optional<std::string> notes;
        std::string list;
    };
    for (const auto& [params, title, notes, list] : std::vector<Case> {
             {{{"title", "\n"}}, "\n", std::nullopt, "inbox"},
             {{{"title", "  Pão "}, {"notes", ""}}, "  Pão ", "", "inbox"},
             {{{"title", longTitle}, {"notes", 7}, {"list", "Compras"}}, longTitle, std::nullopt, "shop"},
             {{{"title", "a"}, {"due", nullptr}, {"list", 4}}, "a", std::nullopt, "inbox"},
         }) {
        auto outcome = call("reminders.create", params);
        ASSERT_EQ(outcome.code, "") << params << outcome.message;
        const auto& saved = store.savedReminders.back();
        EXPECT_EQ(saved.title, title);
        EXPECT_EQ(saved.notes, notes);
        EXPECT_EQ(saved.calendarIdentifier, list);
        EXPECT_FALSE(saved.due);
        EXPECT_FALSE(saved.alarm);
        EXPECT_EQ(outcome.result["title"], title);
        EXPECT_EQ(outcome.result["notes"], notes ? Json(*notes) : Json(nullptr));
    }
}

TEST_F(ReminderMethods, DueIsLocalWallClockAndTheAlarmExact)
{
    auto outcome = call("reminders.create", {{"title", "a"}, {"due", "2026-11-15T10:00:00.750+02:00"}});
    ASSERT_EQ(outcome.code, "") << outcome.message;
    const auto& saved = store.savedReminders.back();
    // 08:00:00.750Z is 05:00:00 in São Paulo.
    EXPECT_EQ(saved.due->hour, 5);
    EXPECT_EQ(saved.due->second, 0);
    EXPECT_FALSE(saved.due->utcOffsetSeconds);
    EXPECT_EQ(saved.alarm, at("2026-11-15T08:00:00Z") + std::chrono::milliseconds(750));
    EXPECT_EQ(outcome.result["due"], "2026-11-15T08:00:00Z");
}

TEST_F(ReminderMethods, CompleteChecksInOrder)
{
    store.status[EntityKind::reminders] = authorization::denied;
    for (Json id : {Json(""), Json(12), Json(nullptr)}) {
        auto outcome = call("reminders.complete", {{"id", id}});
        EXPECT_EQ(outcome.message, "id é obrigatório") << id;
    }
    EXPECT_EQ(call("reminders.complete", {{"id", "x"}}).code, "permission_denied");
    store.status[EntityKind::reminders] = authorization::fullAccess;
    for (std::string id : {std::string("   "), std::string("event-1"), std::string("a\0b", 3)}) {
        auto outcome = call("reminders.complete", {{"id", id}});
        EXPECT_EQ(outcome.code, "not_found");
        EXPECT_EQ(outcome.message, "lembrete não encontrado: " + id);
    }
}

TEST_F(ReminderMethods, CompleteSetsTheFlagEveryTime)
{
    store.storedReminders = {{"r1", "Pão", std::nullopt, std::nullopt, std::nullopt, false}};
    for (int time = 0; time < 2; ++time) {
        auto outcome = call("reminders.complete", {{"id", "r1"}});
        EXPECT_EQ(outcome.result["completed"], true);
    }
    ASSERT_EQ(store.completed.size(), 2u);
    EXPECT_TRUE(store.completed[0].completed);

    store.saveFailure = "sem espaço";
    auto failed = call("reminders.complete", {{"id", "r1"}});
    EXPECT_EQ(failed.code, "internal");
    EXPECT_EQ(failed.message, "sem espaço");
    EXPECT_EQ(call("reminders.create", {{"title", "a"}}).message, "sem espaço");
}
