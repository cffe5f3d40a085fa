#include "calendar/ical/Items.h"

#include "channel/Utf8.h"

#include <algorithm>
#include <chrono>
#include <limits>
#include <map>

namespace tarvio::ical {

namespace {

constexpr Seconds unbounded = std::numeric_limits<Seconds>::max();
constexpr Seconds oneDay = 86400;
// Bounds the work one rule can cause (a secondly rule over decades).
constexpr int maximumSteps = 200000;

// What reading one calendar needs besides its components.
struct Reader {
    ZoneResolver& zones;
    const OriginalText& originalText;
};

std::optional<std::string> textProperty(icalcomponent* component, icalproperty_kind kind, const OriginalText& originalText)
{
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return std::nullopt;
    const char* text = nullptr;
    icalvalue* value = icalproperty_get_value(property);
    if (value && icalvalue_isa(value) == ICAL_URI_VALUE)
        text = icalvalue_get_uri(value);
    else if (value)
        text = icalvalue_get_text(value);
    if (text && originalText) {
        if (auto original = originalText(text))
            return makeValidUtf8(*original);
    }
    return makeValidUtf8(text ? text : "");
}

std::string uidOf(icalcomponent* component)
{
    const char* uid = icalcomponent_get_uid(component);
    return uid ? uid : "";
}

Seconds occurrenceEnd(const EventItem& event, Seconds start)
{
    const auto& recurrence = *event.recurrence;
    if (event.allDay)
        return addLocalDays(start, recurrence.durationDays);
    return start + recurrence.duration;
}

// Where a rule may start late so that it still yields the occurrences from
// `target` on: a whole number of intervals after its first start, which keeps
// the rule's phase. None where the rule must be walked from its start.
std::optional<icaltimetype> lateStart(const EventItem::Recurrence& recurrence, Seconds target)
{
    const auto& rule = *recurrence.rule;
    const icaltimetype& first = recurrence.firstStart;
    if (rule.count != 0)
        return std::nullopt;
    icaltimetype wanted = fromSeconds(target, first.is_date, recurrence.zone, isUtc(first));
    if (icaltime_compare(wanted, first) <= 0)
        return std::nullopt;
    long interval = std::max<long>(1, rule.interval);
    icaltimetype start = first;
    switch (rule.freq) {
    case ICAL_DAILY_RECURRENCE:
    case ICAL_WEEKLY_RECURRENCE: {
        long period = (rule.freq == ICAL_DAILY_RECURRENCE ? 1 : 7) * interval;
        long steps = (dayNumber(wanted) - dayNumber(first)) / period;
        if (steps <= 0 || steps * period > std::numeric_limits<int>::max())
            return std::nullopt;
        icaltime_adjust(&start, static_cast<int>(steps * period), 0, 0, 0);
        return start;
    }
    case ICAL_MONTHLY_RECURRENCE:
    case ICAL_YEARLY_RECURRENCE:
        // Month lengths make later anchors drift; walking months is cheap.
        if (interval != 1)
            return std::nullopt;
        return wanted;
    default:
        // libical loses the phase of rules shorter than a day when started
        // late; they are walked from their start (bounded by maximumSteps).
        return std::nullopt;
    }
}

// Runs the rule from its first start (or from near `skipTo` when it can)
// until `visit` returns false or the rule ends.
template <typename Visit>
void walkRule(const EventItem::Recurrence& recurrence, std::optional<Seconds> skipTo, Visit visit)
{
    icalrecur_iterator* iterator = icalrecur_iterator_new(*recurrence.rule, recurrence.firstStart);
    if (!iterator)
        return;
    if (skipTo) {
        if (auto start = lateStart(recurrence, *skipTo))
            icalrecur_iterator_set_start(iterator, *start);
    }
    for (int step = 0; step < maximumSteps; ++step) {
        icaltimetype time = icalrecur_iterator_next(iterator);
        if (icaltime_is_null_time(time))
            break;
        Seconds start = isUtc(recurrence.firstStart) && !time.is_date ? wallSeconds(time) : toSeconds(time, recurrence.zone);
        if (!visit(start))
            break;
    }
    icalrecur_iterator_free(iterator);
}

Seconds spanEnd(const EventItem& event)
{
    const auto& recurrence = *event.recurrence;
    Seconds longest = event.allDay ? (recurrence.durationDays + 1) * oneDay : recurrence.duration;
    Seconds lastStart = event.start;
    if (recurrence.rule) {
        if (!icaltime_is_null_time(recurrence.rule->until)) {
            lastStart = std::max(lastStart, toSeconds(recurrence.rule->until, recurrence.zone) + oneDay);
        } else if (recurrence.rule->count > 0) {
            walkRule(recurrence, std::nullopt, [&](Seconds start) {
                lastStart = std::max(lastStart, start);
                return true;
            });
        } else {
            return unbounded;
        }
    }
    for (Seconds extra : recurrence.extraStarts)
        lastStart = std::max(lastStart, extra);
    return lastStart + longest;
}

bool overlaps(Seconds start, Seconds end, Seconds from, Seconds to)
{
    if (start >= to)
        return false;
    return end > from || (end <= start && start >= from);
}

EventItem readEvent(icalcomponent* component, Reader& reader, bool& valid)
{
    ZoneResolver& zones = reader.zones;
    EventItem event;
    valid = false;
    icalproperty* startProperty = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
    if (!startProperty)
        return event;
    icaltimetype start = icalproperty_get_dtstart(startProperty);
    if (icaltime_is_null_time(start) || !icaltime_is_valid_time(start))
        return event;
    const icaltimezone* zone = isUtc(start) || start.is_date ? nullptr : zones.zoneOf(startProperty);

    event.title = textProperty(component, ICAL_SUMMARY_PROPERTY, reader.originalText).value_or("");
    event.location = textProperty(component, ICAL_LOCATION_PROPERTY, reader.originalText);
    event.notes = textProperty(component, ICAL_DESCRIPTION_PROPERTY, reader.originalText);
    event.url = textProperty(component, ICAL_URL_PROPERTY, reader.originalText);
    event.allDay = start.is_date;
    event.start = toSeconds(start, zone);

    Seconds duration = 0;
    int durationDays = 1;
    icalproperty* endProperty = icalcomponent_get_first_property(component, ICAL_DTEND_PROPERTY);
    icalproperty* durationProperty = icalcomponent_get_first_property(component, ICAL_DURATION_PROPERTY);
    if (endProperty) {
        icaltimetype end = icalproperty_get_dtend(endProperty);
        if (start.is_date && end.is_date) {
            using namespace std::chrono;
            auto days = (sys_days(year_month_day(year(end.year), month(end.month), day(end.day)))
                - sys_days(year_month_day(year(start.year), month(start.month), day(start.day))))
                            .count();
            durationDays = static_cast<int>(std::clamp<long>(days, 1, 100000));
        } else if (!icaltime_is_null_time(end)) {
            const icaltimezone* endZone = isUtc(end) || end.is_date ? nullptr : zones.zoneOf(endProperty, zone);
            duration = std::max<Seconds>(0, toSeconds(end, endZone) - event.start);
        }
    } else if (durationProperty) {
        Seconds seconds = icaldurationtype_as_int(icalproperty_get_duration(durationProperty));
        duration = std::max<Seconds>(0, seconds);
        durationDays = static_cast<int>(std::max<Seconds>(1, seconds / oneDay));
    }
    event.end = event.allDay ? addLocalDays(event.start, durationDays) : event.start + duration;
    event.lastEnd = event.end;

    icalproperty* rule = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY);
    icalproperty* extra = icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY);
    if (rule || extra) {
        auto recurrence = std::make_shared<EventItem::Recurrence>();
        recurrence->firstStart = start;
        if (!isUtc(start))
            recurrence->firstStart.zone = nullptr;
        recurrence->zone = zone;
        recurrence->duration = duration;
        recurrence->durationDays = durationDays;
        if (rule)
            recurrence->rule = icalproperty_get_rrule(rule);
        for (; extra; extra = icalcomponent_get_next_property(component, ICAL_RDATE_PROPERTY)) {
            icaldatetimeperiodtype value = icalproperty_get_rdate(extra);
            icaltimetype time = icaltime_is_null_time(value.time) ? value.period.start : value.time;
            if (icaltime_is_null_time(time))
                continue;
            recurrence->extraStarts.push_back(toSeconds(time, isUtc(time) ? nullptr : zones.zoneOf(extra, zone)));
        }
        for (icalproperty* excluded = icalcomponent_get_first_property(component, ICAL_EXDATE_PROPERTY); excluded;
             excluded = icalcomponent_get_next_property(component, ICAL_EXDATE_PROPERTY)) {
            icaltimetype time = icalproperty_get_exdate(excluded);
            recurrence->excluded.push_back(toSeconds(time, isUtc(time) ? nullptr : zones.zoneOf(excluded, zone)));
        }
        event.recurrence = std::move(recurrence);
        event.lastEnd = spanEnd(event);
    }
    valid = true;
    return event;
}

std::optional<DateComponents> dueOf(icalcomponent* component, ZoneResolver& zones)
{
    icalproperty* property = icalcomponent_get_first_property(component, ICAL_DUE_PROPERTY);
    if (!property)
        return std::nullopt;
    icaltimetype due = icalproperty_get_due(property);
    if (icaltime_is_null_time(due))
        return std::nullopt;
    DateComponents components {due.year, due.month, due.day, 0, 0, 0, std::nullopt};
    if (due.is_date)
        return components;
    components.hour = due.hour;
    components.minute = due.minute;
    components.second = due.second;
    if (isUtc(due)) {
        components.utcOffsetSeconds = 0;
        return components;
    }
    if (auto zone = zones.zoneOf(property)) {
        icaltimetype wall = due;
        wall.zone = nullptr;
        components.utcOffsetSeconds = static_cast<int>(wallSeconds(wall) - toSeconds(wall, zone));
    }
    return components;
}

TodoItem readTodo(icalcomponent* component, Reader& reader)
{
    TodoItem todo;
    todo.title = textProperty(component, ICAL_SUMMARY_PROPERTY, reader.originalText).value_or("");
    todo.notes = textProperty(component, ICAL_DESCRIPTION_PROPERTY, reader.originalText);
    todo.due = dueOf(component, reader.zones);
    todo.completed = icalcomponent_get_status(component) == ICAL_STATUS_COMPLETED
        || icalcomponent_get_first_property(component, ICAL_COMPLETED_PROPERTY) != nullptr;
    return todo;
}

std::vector<icalcomponent*> itemsOf(icalcomponent* root, icalcomponent_kind kind)
{
    std::vector<icalcomponent*> items;
    if (icalcomponent_isa(root) == kind) {
        items.push_back(root);
        return items;
    }
    for (icalcomponent* item = icalcomponent_get_first_component(root, kind); item;
         item = icalcomponent_get_next_component(root, kind))
        items.push_back(item);
    return items;
}

}

Items readItems(icalcomponent* root, ZoneResolver& zones, const OriginalText& originalText)
{
    Items parsed;
    if (!root)
        return parsed;
    Reader reader {zones, originalText};

    // Items are numbered by UID in order of appearance; overrides
    // (RECURRENCE-ID) belong to the item of their UID.
    std::map<std::string, size_t> eventItems;
    std::vector<icalcomponent*> overrides;
    for (icalcomponent* component : itemsOf(root, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY)) {
            overrides.push_back(component);
            continue;
        }
        bool valid;
        EventItem event = readEvent(component, reader, valid);
        if (!valid)
            continue;
        event.item = eventItems.emplace(uidOf(component), eventItems.size()).first->second;
        parsed.events.push_back(std::move(event));
    }
    for (icalcomponent* component : overrides) {
        bool valid;
        EventItem event = readEvent(component, reader, valid);
        if (!valid)
            continue;
        std::string uid = uidOf(component);
        auto [found, added] = eventItems.emplace(uid, eventItems.size());
        event.item = found->second;
        event.recurrence.reset();
        event.lastEnd = event.end;
        if (!added) {
            icalproperty* property = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY);
            icaltimetype instance = icalproperty_get_recurrenceid(property);
            for (auto& master : parsed.events) {
                if (master.item != event.item || !master.recurrence)
                    continue;
                auto zone = isUtc(instance) ? nullptr : zones.zoneOf(property, master.recurrence->zone);
                master.recurrence->excluded.push_back(toSeconds(instance, zone));
            }
        }
        parsed.events.push_back(std::move(event));
    }

    std::map<std::string, size_t> todoItems;
    for (icalcomponent* component : itemsOf(root, ICAL_VTODO_COMPONENT)) {
        std::string uid = uidOf(component);
        bool isOverride = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY) != nullptr;
        auto [found, added] = todoItems.emplace(uid, todoItems.size());
        if (isOverride || !added)
            continue;
        TodoItem todo = readTodo(component, reader);
        todo.item = found->second;
        parsed.todos.push_back(std::move(todo));
    }
    return parsed;
}

void expandEvent(const EventItem& event, Seconds from, Seconds to,
    const std::function<void(Seconds start, Seconds end)>& occurrence)
{
    if (event.start >= to || event.lastEnd < from)
        return;
    if (!event.recurrence) {
        if (overlaps(event.start, event.end, from, to))
            occurrence(event.start, event.end);
        return;
    }
    const auto& recurrence = *event.recurrence;
    std::vector<Seconds> emitted;
    auto emit = [&](Seconds start) {
        if (std::find(recurrence.excluded.begin(), recurrence.excluded.end(), start) != recurrence.excluded.end())
            return;
        if (!recurrence.extraStarts.empty()) {
            if (std::find(emitted.begin(), emitted.end(), start) != emitted.end())
                return;
            emitted.push_back(start);
        }
        Seconds end = occurrenceEnd(event, start);
        if (overlaps(start, end, from, to))
            occurrence(start, end);
    };
    if (recurrence.rule) {
        Seconds longest = event.allDay ? (recurrence.durationDays + 1) * oneDay : recurrence.duration;
        walkRule(recurrence, from - longest - oneDay, [&](Seconds start) {
            if (start >= to)
                return false;
            emit(start);
            return true;
        });
    } else {
        emit(event.start);
    }
    for (Seconds extra : recurrence.extraStarts)
        emit(extra);
}

}
