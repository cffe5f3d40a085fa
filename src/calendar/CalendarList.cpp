#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "channel/Params.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace tarvio {

std::optional<std::string> hexColor(const std::optional<Rgb>& color)
{
    if (!color)
        return std::nullopt;
    auto channel = [](double component) {
        if (!std::isfinite(component))
            return component > 0 ? 255L : 0L;
        return std::clamp(std::lround(component * 255.0), 0L, 255L);
    };
    char text[8];
    std::snprintf(text, sizeof text, "#%02lX%02lX%02lX", channel(color->red), channel(color->green), channel(color->blue));
    return std::string(text);
}

Json calendarCalendars(CalendarStore& store, const Json& params)
{
    // "debug": true also says which store serves each calendar.
    bool showStore = booleanParam(params, "debug").value_or(false);
    ensureEventAccess(store);
    auto defaultCalendar = store.defaultCalendar(EntityKind::events);
    Json result = Json::array();
    for (const auto& calendar : store.calendars(EntityKind::events)) {
        auto color = hexColor(calendar.color);
        Json entry = {
            {"title", calendar.title},
            {"writable", calendar.writable},
            {"color", color ? Json(*color) : Json(nullptr)},
            {"isDefault", defaultCalendar && defaultCalendar->identifier == calendar.identifier},
        };
        if (showStore)
            entry["store"] = calendar.store;
        result.push_back(std::move(entry));
    }
    return result;
}

}
