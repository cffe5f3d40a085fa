#include "calendar/TemporaryFolder.h"
#include "support/HelperProcess.h"

#include <gtest/gtest.h>

using namespace tarvio;
using tarvio::testing::HelperProcess;
using tarvio::testing::TemporaryFolder;

namespace {

class CalendarEndToEnd : public ::testing::Test {
protected:
    TemporaryFolder data;
    // No EDS on this bus, and no khal or todoman configuration of the user.
    HelperProcess helper {{{"XDG_DATA_HOME", data.path.string()}, {"XDG_CONFIG_HOME", data.path.string()},
        {"DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent"}, {"TZ", "America/Sao_Paulo"}}};
};

}

TEST_F(CalendarEndToEnd, EveryMethodAnswersOnARealStore)
{
    auto status = helper.call("calendar.authStatus");
    EXPECT_EQ(status["result"], (Json {{"events", "fullAccess"}, {"reminders", "fullAccess"}}));
    EXPECT_FALSE(tarvio::testing::exists(data.path.string() + "/tarvio")) << "the store was created before first use";
    EXPECT_EQ(helper.call("calendar.requestAccess", {{"kind", "events"}})["result"],
        Json::parse(R"({"events": {"granted": true, "error": null}})"));

    auto calendars = helper.call("calendar.calendars")["result"];
    EXPECT_EQ(calendars, Json::parse(R"([{"title": "Calendário", "writable": true, "color": "#1F6FEB", "isDefault": true}])"));

    auto created = helper.call("calendar.create", {{"title", " Reunião "}, {"start", "2026-11-15T07:00:00.900-03:00"},
                                                      {"alertMinutes", 10}, {"notes", "pauta"}})["result"];
    EXPECT_EQ(created["title"], "Reunião");
    EXPECT_EQ(created["start"], "2026-11-15T10:00:00Z");
    EXPECT_EQ(created["end"], "2026-11-15T11:00:00Z");
    EXPECT_EQ(created["calendar"], "Calendário");
    EXPECT_EQ(created["notes"], "pauta");
    EXPECT_EQ(created["location"], nullptr);
    auto allDay = helper.call("calendar.create", {{"title", "Feriado"}, {"start", "2026-11-15T01:00:00Z"}, {"allDay", true}})["result"];
    EXPECT_EQ(allDay["start"], "2026-11-14T03:00:00Z");

    auto events = helper.call("calendar.events", {{"from", "2026-11-14T00:00:00Z"}, {"to", "2026-11-16T00:00:00Z"}})["result"];
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0]["id"], allDay["id"]);
    EXPECT_EQ(events[1], created);
    EXPECT_EQ(helper.call("calendar.events", {{"from", "2026-11-15T00:00:00Z"}, {"to", "2026-11-15T00:00:00Z"}})["error"]["message"],
        "to deve ser depois de from");

    auto reminder = helper.call("reminders.create", {{"title", "Pão"}, {"due", "2026-11-16T08:30:00Z"}, {"list", "Lembretes"}})["result"];
    EXPECT_EQ(reminder["due"], "2026-11-16T08:30:00Z");
    EXPECT_EQ(reminder["list"], "Lembretes");
    EXPECT_EQ(helper.call("reminders.list", {{"completed", false}})["result"], Json::array({reminder}));
    EXPECT_EQ(helper.call("reminders.list", {{"completed", true}})["result"], Json::array());

    auto done = helper.call("reminders.complete", {{"id", reminder["id"]}})["result"];
    EXPECT_EQ(done["completed"], true);
    EXPECT_EQ(helper.call("reminders.list", {{"completed", true}})["result"], Json::array({done}));
    auto wrong = helper.call("reminders.complete", {{"id", created["id"]}})["error"];
    EXPECT_EQ(wrong, (Json {{"code", "not_found"}, {"message", "lembrete não encontrado: " + created["id"].get<std::string>()}}));

    EXPECT_EQ(helper.finish(), 0);
    EXPECT_EQ(helper.errorOutput(), "");
}
