#include "calendar/CalendarTestSupport.h"

using namespace tarvio;
using namespace tarvio::testing;

namespace {

const std::string eventsRefused = "sem acesso completo a calendário; chame calendar.requestAccess";
const std::string remindersRefused = "sem acesso completo a lembretes; chame calendar.requestAccess";
const std::string settingsRefused =
    "sem acesso completo ao calendário; permita em Ajustes do Sistema > Privacidade e Segurança > Calendários";

const Json validEvents = {{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-16T00:00:00Z"}};
const Json validCreate = {{"title", "Reunião"}, {"start", "2026-11-15T10:00:00Z"}};

}

using CalendarAccess = CalendarMethodsTest;

TEST_F(CalendarAccess, AuthStatusNamesEveryStatus)
{
    for (auto [status, name] : std::vector<std::pair<int, std::string>> {{0, "notDetermined"}, {1, "restricted"},
             {2, "denied"}, {3, "fullAccess"}, {4, "writeOnly"}, {5, "unknown"}, {-1, "unknown"}}) {
        store.status[EntityKind::events] = status;
        store.status[EntityKind::reminders] = 3;
        EXPECT_EQ(call("calendar.authStatus", {{"x", 1}}).result, (Json {{"events", name}, {"reminders", "fullAccess"}}));
        store.status[EntityKind::events] = 3;
        store.status[EntityKind::reminders] = status;
        EXPECT_EQ(call("calendar.authStatus").result, (Json {{"events", "fullAccess"}, {"reminders", name}}));
    }
    EXPECT_TRUE(store.prompts.empty());
}

TEST_F(CalendarAccess, RequestAccessAsksForTheKindsNamed)
{
    struct Case {
        Json params;
        std::vector<EntityKind> asked;
    };
    for (const auto& [params, asked] : std::vector<Case> {
             {Json::object(), {EntityKind::events, EntityKind::reminders}},
             {{{"kind", 5}}, {EntityKind::events, EntityKind::reminders}},
             {{{"kind", "both"}}, {EntityKind::events, EntityKind::reminders}},
             {{{"kind", "events"}}, {EntityKind::events}},
             {{{"kind", "reminders"}}, {EntityKind::reminders}},
         }) {
        store.prompts.clear();
        auto outcome = call("calendar.requestAccess", params);
        EXPECT_EQ(store.prompts, asked) << params;
        EXPECT_EQ(outcome.result.size(), asked.size()) << params;
        for (auto kind : asked) {
            const char* name = kind == EntityKind::events ? "events" : "reminders";
            EXPECT_EQ(outcome.result[name], (Json {{"granted", true}, {"error", nullptr}})) << params;
        }
    }
}

TEST_F(CalendarAccess, RequestAccessRefusesOtherKinds)
{
    for (Json kind : {Json(""), Json("Events"), Json(" both"), Json("all")}) {
        auto outcome = call("calendar.requestAccess", {{"kind", kind}});
        EXPECT_EQ(outcome.code, "invalid_params");
        EXPECT_EQ(outcome.message, "kind deve ser events, reminders ou both");
    }
    EXPECT_TRUE(store.prompts.empty());
}

TEST_F(CalendarAccess, RefusalIsReportedAndTheSecondKindStillAsked)
{
    store.answer[EntityKind::events] = {false, "O usuário recusou"};
    auto outcome = call("calendar.requestAccess");
    EXPECT_EQ(outcome.result["events"], (Json {{"granted", false}, {"error", "O usuário recusou"}}));
    EXPECT_EQ(outcome.result["reminders"], (Json {{"granted", true}, {"error", nullptr}}));
    EXPECT_EQ(store.prompts.size(), 2u);
}

TEST_F(CalendarAccess, EveryGuardRefusesEachStatusButFullAccess)
{
    struct Guarded {
        std::string method;
        Json params;
        EntityKind kind;
        std::string message;
    };
    std::vector<Guarded> methods {
        {"calendar.events", validEvents, EntityKind::events, eventsRefused},
        {"calendar.calendars", {}, EntityKind::events, settingsRefused},
        {"calendar.create", validCreate, EntityKind::events, settingsRefused},
        {"reminders.list", {}, EntityKind::reminders, remindersRefused},
        {"reminders.create", {{"title", "Pão"}}, EntityKind::reminders, remindersRefused},
        {"reminders.complete", {{"id", "x"}}, EntityKind::reminders, remindersRefused},
    };
    for (int status : {1, 2, 4, 9}) {
        for (const auto& guarded : methods) {
            store.status[guarded.kind] = status;
            store.storeReads = 0;
            auto outcome = call(guarded.method, guarded.params);
            EXPECT_EQ(outcome.code, "permission_denied") << guarded.method << " " << status;
            EXPECT_EQ(outcome.message, guarded.message) << guarded.method << " " << status;
            EXPECT_EQ(store.storeReads, 0) << guarded.method;
            store.status[guarded.kind] = 3;
        }
    }
    EXPECT_TRUE(store.prompts.empty());
    EXPECT_TRUE(store.savedEvents.empty());
}

TEST_F(CalendarAccess, UndecidedEventsPromptOnlyWhereTheMethodMayAsk)
{
    // requireFull never asks.
    store.status[EntityKind::events] = 0;
    EXPECT_EQ(call("calendar.events", validEvents).message, eventsRefused);
    store.status[EntityKind::reminders] = 0;
    EXPECT_EQ(call("reminders.list").message, remindersRefused);
    EXPECT_TRUE(store.prompts.empty());

    // ensureEventAccess asks once and goes on when granted...
    auto listed = call("calendar.calendars");
    EXPECT_EQ(listed.code, "");
    EXPECT_EQ(listed.result.size(), 3u);
    EXPECT_EQ(store.prompts, std::vector<EntityKind> {EntityKind::events});

    // ...and fails with the Settings message when refused; the prompt's error text is dropped.
    for (const std::string method : {"calendar.calendars", "calendar.create"}) {
        store.status[EntityKind::events] = 0;
        store.answer[EntityKind::events] = {false, "recusado"};
        store.prompts.clear();
        auto outcome = call(method, validCreate);
        EXPECT_EQ(outcome.code, "permission_denied");
        EXPECT_EQ(outcome.message, settingsRefused);
        EXPECT_EQ(store.prompts.size(), 1u);
    }
    EXPECT_TRUE(store.savedEvents.empty());
}
