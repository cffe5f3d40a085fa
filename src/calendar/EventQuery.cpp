#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "channel/HelperError.h"

#include <algorithm>

namespace tarvio {

namespace {

Json optionalText(const std::optional<std::string>& text)
{
    return text ? Json(*text) : Json(nullptr);
}

Json optionalDate(const std::optional<Instant>& instant)
{
    return instant ? Json(formatDate(*instant)) : Json(nullptr);
}

}

Json eventJSON(const Event& event)
{
    return {
        {"id", event.identifier},
        {"title", event.title},
        {"start", optionalDate(event.start)},
        {"end", optionalDate(event.end)},
        {"calendar", event.calendar ? event.calendar->title : std::string()},
        {"location", optionalText(event.location)},
        {"notes", optionalText(event.notes)},
        {"url", optionalText(event.url)},
        {"allDay", event.allDay},
    };
}

Json calendarEvents(CalendarStore& store, const Json& params)
{
    Instant from = parseDate(params, "from");
    Instant to = parseDate(params, "to");
    if (to <= from)
        throw invalidParams("to deve ser depois de from");
    requireFull(store, EntityKind::events);

    auto events = store.events(from, to);
    std::stable_sort(events.begin(), events.end(), [](const Event& left, const Event& right) {
        return left.start.value_or(Instant::max()) < right.start.value_or(Instant::max());
    });
    Json result = Json::array();
    result.get_ref<Json::array_t&>().reserve(events.size());
    for (const auto& event : events)
        result.push_back(eventJSON(event));
    return result;
}

}
