#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "channel/HelperError.h"
#include "channel/JsonWriter.h"

#include <malloc.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

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

    // Each event is written out as it comes; only its text waits for the sort.
    struct Written {
        Instant start;
        std::string text;
    };
    std::vector<Written> written;
    store.forEachEvent(from, to, [&](const Event& event) {
        Written entry {event.start.value_or(Instant::max()), {}};
        if (!writeCompactJson(eventJSON(event), entry.text))
            throw internalError("evento sem forma JSON");
        written.push_back(std::move(entry));
    });
    std::stable_sort(written.begin(), written.end(), [](const Written& left, const Written& right) {
        return left.start < right.start;
    });
    size_t length = 2 + (written.empty() ? 0 : written.size() - 1);
    for (const auto& entry : written)
        length += entry.text.size();
    std::vector<std::uint8_t> text;
    text.reserve(length);
    text.push_back('[');
    for (auto& entry : written) {
        if (text.size() > 1)
            text.push_back(',');
        text.insert(text.end(), entry.text.begin(), entry.text.end());
        std::string().swap(entry.text);
    }
    text.push_back(']');
    written = {};
    // The texts were many small blocks: give them back to the system.
    ::malloc_trim(0);
    return rawJson(std::move(text));
}

}
