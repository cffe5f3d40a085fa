#pragma once

#include "calendar/CalendarMethods.h"
#include "calendar/FakeCalendarStore.h"
#include "channel/HelperError.h"
#include "channel/JsonWriter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>

namespace tarvio::testing {

struct Outcome {
    Json result;
    std::string code;
    std::string message;
};

// The calendar methods over a fake store, called as the dispatcher calls them.
class CalendarMethodsTest : public ::testing::Test {
protected:
    CalendarMethodsTest()
    {
        // Day boundaries are computed in the machine's zone.
        ::setenv("TZ", "America/Sao_Paulo", 1);
        ::tzset();
        addCalendarMethods(dispatcher, store);
        store.lists[EntityKind::events] = {
            {"work", "Trabalho", true, Rgb {1, 0, 0}},
            {"home", "Casa", true, std::nullopt},
            {"holidays", "Feriados", false, std::nullopt},
        };
        store.defaults[EntityKind::events] = "home";
        store.lists[EntityKind::reminders] = {{"inbox", "Lembretes", true, std::nullopt}, {"shop", "Compras", false, std::nullopt}};
        store.defaults[EntityKind::reminders] = "inbox";
    }

    Outcome call(const std::string& method, const Json& params = Json::object())
    {
        try {
            // As the host reads it: through the response writer.
            std::string text;
            EXPECT_TRUE(writeCompactJson(dispatcher.handle(method, params), text));
            return {Json::parse(text), "", ""};
        } catch (const HelperError& error) {
            return {nullptr, error.code, error.message};
        }
    }

    FakeCalendarStore store;
    Dispatcher dispatcher;
};

inline std::string dateError(const std::string& name)
{
    return name + " deve ser uma data ISO 8601 (ex: 2026-11-15T10:00:00Z)";
}

inline Instant at(const std::string& text)
{
    return *isoPlain.parse(text);
}

}
