#pragma once

#include "calendar/CalendarStore.h"
#include "channel/Json.h"

#include <optional>
#include <string>

namespace tarvio {

// "#RRGGBB" of sRGB components, or none.
std::optional<std::string> hexColor(const std::optional<Rgb>& color);

Json eventJSON(const Event& event);
std::optional<Instant> dueDate(const Reminder& reminder);
Json reminderJSON(const Reminder& reminder);

Json calendarCalendars(CalendarStore& store, const Json& params = Json::object());
Json calendarEvents(CalendarStore& store, const Json& params);
Json calendarCreate(CalendarStore& store, const Json& params);
Json remindersList(CalendarStore& store, const Json& params);
Json remindersCreate(CalendarStore& store, const Json& params);
Json remindersComplete(CalendarStore& store, const Json& params);

}
