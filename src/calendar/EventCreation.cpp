#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "calendar/LocalTime.h"
#include "calendar/Text.h"
#include "channel/HelperError.h"
#include "channel/Params.h"

namespace tarvio {

namespace {

constexpr size_t maximumTitleLength = 300;
constexpr std::chrono::seconds defaultDuration {3600};

Calendar chooseEventCalendar(CalendarStore& store, const std::optional<std::string>& wanted)
{
    std::vector<Calendar> writable;
    for (auto& calendar : store.calendars(EntityKind::events)) {
        if (calendar.writable)
            writable.push_back(std::move(calendar));
    }
    if (wanted && !wanted->empty()) {
        for (const auto& calendar : writable) {
            if (canonicallyEqual(calendar.title, *wanted))
                return calendar;
        }
        throw notFound("agenda não encontrada ou sem permissão de escrita: " + *wanted);
    }
    if (auto fallback = store.defaultCalendar(EntityKind::events); fallback && fallback->writable)
        return *fallback;
    if (writable.empty())
        throw notFound("nenhuma agenda que aceite novos eventos");
    return writable.front();
}

}

Json calendarCreate(CalendarStore& store, const Json& params)
{
    auto given = stringParam(params, "title");
    // No calendar text can hold a NUL: refused, never stored cut short.
    if (!given || hasNul(*given))
        throw invalidParams("title é obrigatório");
    std::string title = trimWhitespacesAndNewlines(*given);
    if (title.empty())
        throw invalidParams("title é obrigatório");
    if (characterCount(title) > maximumTitleLength)
        throw invalidParams("title deve ter até 300 caracteres");

    Instant start = parseStorableDate(params, "start");
    bool allDay = booleanParam(params, "allDay").value_or(false);
    std::optional<Instant> givenEnd;
    if (member(params, "end") && !isNullMember(params, "end"))
        givenEnd = parseStorableDate(params, "end");

    Instant end;
    if (!allDay) {
        end = givenEnd.value_or(start + defaultDuration);
        if (end <= start)
            throw invalidParams("end deve ser depois de start");
    } else {
        Instant lastGiven = givenEnd.value_or(start);
        start = startOfDay(start);
        end = startOfDay(std::max(start, lastGiven));
    }

    auto location = stringParam(params, "location");
    auto notes = stringParam(params, "notes");
    refuseNul(location, "location");
    refuseNul(notes, "notes");

    ensureEventAccess(store);
    Calendar calendar = chooseEventCalendar(store, stringParam(params, "calendar"));

    NewEvent event;
    event.calendarIdentifier = calendar.identifier;
    event.title = title;
    event.start = start;
    event.end = end;
    event.allDay = allDay;
    if (location && !location->empty())
        event.location = location;
    if (notes && !notes->empty())
        event.notes = notes;
    if (auto minutes = numericOrBooleanParam(params, "alertMinutes"); minutes && *minutes >= 0)
        event.alarmOffsetSeconds = -60.0 * *minutes;

    try {
        return eventJSON(store.saveEvent(event));
    } catch (const StoreError& error) {
        throw internalError(error.what());
    }
}

}
