#include "calendar/ical/Items.h"

#include "channel/Utf8.h"

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <limits>
#include <map>
#include <set>
#include <string_view>

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

bool hasNoParts(const icalrecurrencetype& rule)
{
    for (const short* part : {rule.by_second, rule.by_minute, rule.by_hour, rule.by_day, rule.by_month_day,
             rule.by_year_day, rule.by_week_no, rule.by_month, rule.by_set_pos}) {
        if (part[0] != ICAL_RECURRENCE_ARRAY_MAX)
            return false;
    }
    return true;
}

// Where a rule may start late so that it still yields the occurrences from
// `target` on: a whole number of intervals after its first start, which keeps
// the rule's phase. None where the rule must be walked from its start.
std::optional<icaltimetype> lateStart(const icalrecurrencetype& rule, const EventItem::Recurrence& recurrence, Seconds target)
{
    const icaltimetype& first = recurrence.firstStart;
    if (rule.count != 0 || rule.rscale)
        return std::nullopt;
    icaltimetype wanted = fromSeconds(target, first.is_date, recurrence.zone, isUtc(first));
    wanted.zone = first.zone;
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
        return std::nullopt;
    }
}

// Rules shorter than a day step through wall-clock fields from their start,
// so a plain one (no BY parts) started a whole number of steps later yields
// the same instances. libical's own set_start loses their phase.
std::optional<icaltimetype> shiftedStart(const icalrecurrencetype& rule, const EventItem::Recurrence& recurrence, Seconds target)
{
    const icaltimetype& first = recurrence.firstStart;
    Seconds unit = rule.freq == ICAL_HOURLY_RECURRENCE ? 3600
        : rule.freq == ICAL_MINUTELY_RECURRENCE        ? 60
        : rule.freq == ICAL_SECONDLY_RECURRENCE        ? 1
                                                       : 0;
    if (!unit || rule.count != 0 || rule.rscale || first.is_date || !hasNoParts(rule))
        return std::nullopt;
    icaltimetype wanted = fromSeconds(target, false, recurrence.zone, isUtc(first));
    unit *= std::max<Seconds>(1, rule.interval);
    Seconds steps = (wallSeconds(wanted) - wallSeconds(first)) / unit;
    if (steps <= 0)
        return std::nullopt;
    Seconds offset = steps * unit;
    if (offset / oneDay > std::numeric_limits<int>::max())
        return std::nullopt;
    icaltimetype start = first;
    icaltime_adjust(&start, static_cast<int>(offset / oneDay), 0, 0, static_cast<int>(offset % oneDay));
    return start;
}

// Runs one rule from its first start (or from near `skipTo` when it can)
// until `visit` returns false or the rule ends. False when libical cannot
// run the rule at all.
template <typename Visit>
bool walkRule(const EventItem::Recurrence& recurrence, const EventItem::Recurrence::Rule& stored,
    std::optional<Seconds> skipTo, Visit visit)
{
    icalrecurrencetype rule = stored.rule;
    std::string scale = stored.scale;
    rule.rscale = scale.empty() ? nullptr : scale.data();
    // COUNT and UNTIL together (which RFC 5545 forbids) end at whichever
    // comes first; libical refuses the pair.
    int count = rule.count;
    if (count && !icaltime_is_null_time(rule.until))
        rule.count = 0;
    icaltimetype first = recurrence.firstStart;
    std::optional<icaltimetype> late;
    if (skipTo && (late = shiftedStart(rule, recurrence, *skipTo)))
        first = *late;
    icalrecur_iterator* iterator = icalrecur_iterator_new(rule, first);
    if (!iterator)
        return false;
    if (skipTo && !late) {
        if (auto start = lateStart(rule, recurrence, *skipTo))
            icalrecur_iterator_set_start(iterator, *start);
    }
    for (int step = 0; step < maximumSteps && (!count || step < count); ++step) {
        icaltimetype time = icalrecur_iterator_next(iterator);
        if (icaltime_is_null_time(time))
            break;
        Seconds start = isUtc(recurrence.firstStart) && !time.is_date ? wallSeconds(time) : toSeconds(time, recurrence.zone);
        if (!visit(start))
            break;
    }
    icalrecur_iterator_free(iterator);
    return true;
}

Seconds spanEnd(const EventItem& event)
{
    const auto& recurrence = *event.recurrence;
    Seconds longest = event.allDay ? (recurrence.durationDays + 1) * oneDay : recurrence.duration;
    Seconds lastStart = event.start;
    for (const auto& rule : recurrence.rules) {
        if (!icaltime_is_null_time(rule.rule.until)) {
            lastStart = std::max(lastStart, toSeconds(rule.rule.until, recurrence.zone) + oneDay + recurrence.shift);
        } else if (rule.rule.count > 0) {
            walkRule(recurrence, rule, std::nullopt, [&](Seconds start) {
                lastStart = std::max(lastStart, start + recurrence.shift);
                return true;
            });
        } else {
            return unbounded;
        }
    }
    for (const auto& extra : recurrence.extraStarts) {
        lastStart = std::max(lastStart, extra.start + recurrence.shift);
        if (extra.end)
            longest = std::max(longest, *extra.end - extra.start);
    }
    return lastStart + longest;
}

bool overlaps(Seconds start, Seconds end, Seconds from, Seconds to)
{
    if (start >= to)
        return false;
    return end > from || (end <= start && start >= from);
}

// The clock a series runs in: its zone, UTC, or floating local time.
long dayInClock(Seconds instant, const EventItem::Recurrence& recurrence)
{
    return dayNumber(fromSeconds(instant, false, recurrence.zone, isUtc(recurrence.firstStart)));
}

// An instance named by RECURRENCE-ID or EXDATE: a date names a day, and an
// all-day series' instances are named by their date whatever the time.
void exclude(EventItem::Recurrence& recurrence, icaltimetype time, const icaltimezone* zone)
{
    if (icaltime_is_null_time(time))
        return;
    if (recurrence.firstStart.is_date) {
        recurrence.excluded.push_back(localMidnight(time.year, time.month, time.day));
        return;
    }
    if (time.is_date) {
        recurrence.excludedDays.push_back(dayNumber(time));
        return;
    }
    recurrence.excluded.push_back(toSeconds(time, isUtc(time) ? nullptr : zone));
}

// UNTIL in the clock of the rule's start, which is where libical compares it.
icaltimetype untilInClock(icaltimetype until, const icaltimetype& start, const icaltimezone* zone)
{
    if (icaltime_is_null_time(until) || isUtc(start))
        return until;
    if (start.is_date) {
        if (until.is_date)
            return until;
        icaltimetype local = fromSeconds(toSeconds(until, nullptr), true, nullptr, false);
        return local;
    }
    if (!isUtc(until))
        return until;
    icaltimetype wall = fromSeconds(wallSeconds(until), false, zone, false);
    wall.zone = nullptr;
    wall.is_date = 0;
    return wall;
}

// The rule libical refused and left as an X-LIC-ERROR: it refuses COUNT
// together with UNTIL (which RFC 5545 forbids but programs write), so that
// pair is read here and both bounds kept.
std::optional<icalrecurrencetype> refusedRule(icalproperty* error)
{
    const char* text = icalproperty_get_xlicerror(error);
    constexpr std::string_view marker = "in RRULE property. Removing entire property: ";
    std::string_view message = text ? text : "";
    size_t at = message.find(marker);
    if (at == std::string_view::npos)
        return std::nullopt;
    std::string value;
    for (char c : message.substr(at + marker.size())) {
        if (c != '\\')
            value += c;
    }
    std::string withoutCount;
    std::optional<int> count;
    size_t position = 0;
    while (position <= value.size()) {
        size_t end = value.find(';', position);
        if (end == std::string::npos)
            end = value.size();
        std::string part = value.substr(position, end - position);
        if (part.rfind("COUNT=", 0) == 0 && !count)
            count = std::atoi(part.c_str() + 6);
        else
            withoutCount += (withoutCount.empty() ? "" : ";") + part;
        position = end + 1;
    }
    if (!count || *count <= 0 || withoutCount.find("UNTIL=") == std::string::npos)
        return std::nullopt;
    icalrecurrencetype rule = icalrecurrencetype_from_string(withoutCount.c_str());
    if (rule.freq == ICAL_NO_RECURRENCE || icaltime_is_null_time(rule.until))
        return std::nullopt;
    rule.count = *count;
    return rule;
}

std::vector<icalrecurrencetype> rulesOf(icalcomponent* component)
{
    std::vector<icalrecurrencetype> rules;
    for (icalproperty* rule = icalcomponent_get_first_property(component, ICAL_RRULE_PROPERTY); rule;
         rule = icalcomponent_get_next_property(component, ICAL_RRULE_PROPERTY))
        rules.push_back(icalproperty_get_rrule(rule));
    for (icalproperty* error = icalcomponent_get_first_property(component, ICAL_XLICERROR_PROPERTY); error;
         error = icalcomponent_get_next_property(component, ICAL_XLICERROR_PROPERTY)) {
        if (auto rule = refusedRule(error))
            rules.push_back(*rule);
    }
    return rules;
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
        if (start.is_date && !icaltime_is_null_time(end)) {
            // A date-time end still ends on its day: a day it reaches counts.
            long days = dayNumber(end) - dayNumber(start);
            if (!end.is_date && (end.hour || end.minute || end.second))
                ++days;
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

    // libical keeps one property cursor per component: each walk starts afresh.
    std::vector<icalrecurrencetype> rules = rulesOf(component);
    bool hasExtra = icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY) != nullptr;
    if (!rules.empty() || hasExtra) {
        auto recurrence = std::make_shared<EventItem::Recurrence>();
        recurrence->firstStart = start;
        if (!isUtc(start))
            recurrence->firstStart.zone = nullptr;
        recurrence->zone = zone;
        recurrence->duration = duration;
        recurrence->durationDays = durationDays;
        for (const auto& rule : rules) {
            EventItem::Recurrence::Rule stored;
            stored.rule = rule;
            // The scale's text belongs to the property, which goes with the component.
            if (stored.rule.rscale)
                stored.scale = stored.rule.rscale;
            stored.rule.rscale = nullptr;
            stored.rule.until = untilInClock(stored.rule.until, start, zone);
            recurrence->rules.push_back(std::move(stored));
        }
        for (icalproperty* extra = icalcomponent_get_first_property(component, ICAL_RDATE_PROPERTY); extra;
             extra = icalcomponent_get_next_property(component, ICAL_RDATE_PROPERTY)) {
            icaldatetimeperiodtype value = icalproperty_get_rdate(extra);
            bool period = icaltime_is_null_time(value.time);
            icaltimetype time = period ? value.period.start : value.time;
            if (icaltime_is_null_time(time))
                continue;
            const icaltimezone* extraZone = isUtc(time) ? nullptr : zones.zoneOf(extra, zone);
            EventItem::Recurrence::ExtraStart added {toSeconds(time, extraZone), std::nullopt};
            if (period && !event.allDay) {
                if (!icaltime_is_null_time(value.period.end))
                    added.end = toSeconds(value.period.end, isUtc(value.period.end) ? nullptr : extraZone);
                else
                    added.end = added.start + icaldurationtype_as_int(value.period.duration);
                added.end = std::max(*added.end, added.start);
            }
            recurrence->extraStarts.push_back(added);
        }
        for (icalproperty* excluded = icalcomponent_get_first_property(component, ICAL_EXDATE_PROPERTY); excluded;
             excluded = icalcomponent_get_next_property(component, ICAL_EXDATE_PROPERTY))
            exclude(*recurrence, icalproperty_get_exdate(excluded), zones.zoneOf(excluded, zone));
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

Seconds stampOf(icalcomponent* component, icalproperty_kind kind)
{
    icalproperty* property = icalcomponent_get_first_property(component, kind);
    if (!property)
        return std::numeric_limits<Seconds>::min();
    icaltimetype time = kind == ICAL_DTSTAMP_PROPERTY ? icalproperty_get_dtstamp(property) : icalproperty_get_lastmodified(property);
    if (icaltime_is_null_time(time) || !icaltime_is_valid_time(time))
        return std::numeric_limits<Seconds>::min();
    return toSeconds(time, nullptr);
}

// Of two versions of one item, the newer: higher SEQUENCE, then the later
// DTSTAMP or LAST-MODIFIED; on a tie the later in the file.
bool isNewer(icalcomponent* candidate, icalcomponent* current)
{
    int left = icalcomponent_get_sequence(candidate), right = icalcomponent_get_sequence(current);
    if (left != right)
        return left > right;
    auto changed = [](icalcomponent* component) {
        return std::max(stampOf(component, ICAL_DTSTAMP_PROPERTY), stampOf(component, ICAL_LASTMODIFIED_PROPERTY));
    };
    return changed(candidate) >= changed(current);
}

struct Override {
    icalcomponent* component;
    size_t item;
    Seconds instance;  // RECURRENCE-ID in the master's clock
    bool thisAndFuture;
};

Seconds firstRawStart(const EventItem::Recurrence& recurrence)
{
    const icaltimetype& first = recurrence.firstStart;
    return isUtc(first) && !first.is_date ? wallSeconds(first) : toSeconds(first, recurrence.zone);
}

}

Items readItems(icalcomponent* root, ZoneResolver& zones, const OriginalText& originalText)
{
    Items parsed;
    if (!root)
        return parsed;
    Reader reader {zones, originalText};

    // Items are numbered by UID, masters first in order of appearance;
    // overrides (RECURRENCE-ID) belong to the item of their UID. Of several
    // masters of one UID only the newest counts.
    std::map<std::string, size_t> eventItems;
    std::map<size_t, icalcomponent*> masters;
    std::vector<icalcomponent*> overrideComponents;
    for (icalcomponent* component : itemsOf(root, ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY)) {
            overrideComponents.push_back(component);
            continue;
        }
        size_t item = eventItems.emplace(uidOf(component), eventItems.size()).first->second;
        auto [found, added] = masters.emplace(item, component);
        if (!added && isNewer(component, found->second))
            found->second = component;
    }
    std::map<size_t, size_t> masterAt; // item → index in parsed.events
    for (auto [item, component] : masters) {
        bool valid;
        EventItem event = readEvent(component, reader, valid);
        if (!valid)
            continue;
        event.item = item;
        masterAt[item] = parsed.events.size();
        parsed.events.push_back(std::move(event));
    }

    std::map<std::pair<size_t, Seconds>, Override> overrides;
    for (icalcomponent* component : overrideComponents) {
        size_t item = eventItems.emplace(uidOf(component), eventItems.size()).first->second;
        icalproperty* property = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY);
        icaltimetype instance = icalproperty_get_recurrenceid(property);
        const EventItem* master = masterAt.count(item) ? &parsed.events[masterAt[item]] : nullptr;
        const EventItem::Recurrence* recurrence = master ? master->recurrence.get() : nullptr;
        Seconds at = 0;
        if (recurrence && recurrence->firstStart.is_date)
            at = localMidnight(instance.year, instance.month, instance.day);
        else
            at = toSeconds(instance, isUtc(instance) ? nullptr : zones.zoneOf(property, recurrence ? recurrence->zone : nullptr));
        icalparameter* range = icalproperty_get_first_parameter(property, ICAL_RANGE_PARAMETER);
        bool future = range && icalparameter_get_range(range) == ICAL_RANGE_THISANDFUTURE;
        Override candidate {component, item, at, future};
        auto [found, added] = overrides.emplace(std::make_pair(item, at), candidate);
        if (!added && isNewer(component, found->second.component))
            found->second = candidate;
    }

    // A RANGE=THISANDFUTURE override ends the series before it and starts a
    // series of its own from there, moved as far as the override moved.
    std::vector<const Override*> plain;
    for (const auto& [key, entry] : overrides) {
        bool valid;
        EventItem event = readEvent(entry.component, reader, valid);
        if (!valid)
            continue;
        event.item = entry.item;
        event.recurrence.reset();
        event.lastEnd = event.end;
        auto master = masterAt.find(entry.item);
        bool recurring = master != masterAt.end() && parsed.events[master->second].recurrence;
        if (recurring) {
            if (!entry.thisAndFuture) {
                plain.push_back(&entry);
            } else {
                const EventItem& series = parsed.events[master->second];
                auto moved = std::make_shared<EventItem::Recurrence>(*series.recurrence);
                moved->notBefore = entry.instance;
                moved->notFrom = std::numeric_limits<Seconds>::max();
                moved->shift = event.start - entry.instance;
                moved->duration = event.end - event.start;
                moved->durationDays = static_cast<int>(std::max<Seconds>(1, (event.end - event.start + oneDay / 2) / oneDay));
                for (auto& other : parsed.events) {
                    if (other.item == entry.item && other.recurrence && other.recurrence->notBefore < entry.instance)
                        other.recurrence->notFrom = std::min(other.recurrence->notFrom, entry.instance);
                }
                event.recurrence = std::move(moved);
                event.lastEnd = spanEnd(event);
                parsed.events.push_back(std::move(event));
                continue;
            }
        }
        parsed.events.push_back(std::move(event));
    }
    for (const Override* entry : plain) {
        for (auto& series : parsed.events) {
            if (series.item == entry->item && series.recurrence)
                series.recurrence->excluded.push_back(entry->instance);
        }
    }

    // To-dos are numbered by UID in order of first appearance, overrides
    // included; the newest master of each is listed.
    std::map<std::string, size_t> todoItems;
    std::map<size_t, std::pair<icalcomponent*, size_t>> todoMasters;
    size_t ordinal = 0;
    for (icalcomponent* component : itemsOf(root, ICAL_VTODO_COMPONENT)) {
        size_t at = ordinal++;
        size_t item = todoItems.emplace(uidOf(component), todoItems.size()).first->second;
        if (icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY))
            continue;
        auto [found, added] = todoMasters.emplace(item, std::make_pair(component, at));
        if (!added && isNewer(component, found->second.first))
            found->second = {component, at};
    }
    for (auto [item, master] : todoMasters) {
        TodoItem todo = readTodo(master.first, reader);
        todo.item = item;
        todo.component = master.second;
        parsed.todos.push_back(std::move(todo));
    }
    return parsed;
}

Instant instantOf(Seconds seconds)
{
    return Instant(std::chrono::seconds(seconds));
}

Event eventOf(const EventItem& stored, const Calendar& calendar, const std::string& identifier, Seconds start, Seconds end)
{
    Event event;
    event.identifier = identifier;
    event.title = stored.title;
    event.start = instantOf(start);
    event.end = instantOf(end);
    event.calendar = calendar;
    event.location = stored.location;
    event.notes = stored.notes;
    event.url = stored.url;
    event.allDay = stored.allDay;
    return event;
}

Reminder reminderOf(const TodoItem& todo, const Calendar& list, const std::string& identifier)
{
    return {identifier, todo.title, todo.notes, todo.due, list, todo.completed};
}

namespace {

constexpr size_t mostListed = 2000;

// Calls `occurrence` for each occurrence overlapping [from, to) until it
// returns false.
void walkOccurrences(const EventItem& event, Seconds from, Seconds to,
    const std::function<bool(Seconds start, Seconds end)>& occurrence);

// Fills the series' list once; a series without end or with too many
// occurrences is walked at every listing instead.
void listOccurrences(const EventItem& event)
{
    auto& listed = event.recurrence->listed;
    listed.tried = true;
    if (event.lastEnd == unbounded)
        return;
    bool tooMany = false;
    walkOccurrences(event, event.start, event.lastEnd + 1, [&](Seconds start, Seconds end) {
        if (listed.occurrences.size() == mostListed)
            return !(tooMany = true);
        listed.occurrences.emplace_back(start, end);
        return true;
    });
    listed.complete = !tooMany;
    if (tooMany)
        listed.occurrences = {};
}

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
    if (!event.recurrence->listed.tried)
        listOccurrences(event);
    if (event.recurrence->listed.complete) {
        for (const auto& [start, end] : event.recurrence->listed.occurrences) {
            if (overlaps(start, end, from, to))
                occurrence(start, end);
        }
        return;
    }
    walkOccurrences(event, from, to, [&](Seconds start, Seconds end) {
        occurrence(start, end);
        return true;
    });
}

namespace {

void walkOccurrences(const EventItem& event, Seconds from, Seconds to,
    const std::function<bool(Seconds start, Seconds end)>& occurrence)
{
    const auto& recurrence = *event.recurrence;
    bool mayRepeat = recurrence.rules.size() > 1 || !recurrence.extraStarts.empty();
    std::set<Seconds> emitted;
    bool stopped = false;
    auto emit = [&](Seconds raw, std::optional<Seconds> ownEnd) {
        if (stopped || raw < recurrence.notBefore || raw >= recurrence.notFrom)
            return;
        if (std::find(recurrence.excluded.begin(), recurrence.excluded.end(), raw) != recurrence.excluded.end())
            return;
        if (!recurrence.excludedDays.empty()
            && std::find(recurrence.excludedDays.begin(), recurrence.excludedDays.end(), dayInClock(raw, recurrence))
                != recurrence.excludedDays.end())
            return;
        if (mayRepeat && !emitted.insert(raw).second)
            return;
        Seconds start = raw + recurrence.shift;
        Seconds end = ownEnd ? *ownEnd + recurrence.shift : occurrenceEnd(event, start);
        if (overlaps(start, end, from, to) && !occurrence(start, end))
            stopped = true;
    };
    Seconds longest = event.allDay ? (recurrence.durationDays + 1) * oneDay : recurrence.duration;
    for (const auto& rule : recurrence.rules) {
        bool ran = walkRule(recurrence, rule, from - longest - oneDay - recurrence.shift, [&](Seconds raw) {
            if (raw + recurrence.shift >= to)
                return false;
            emit(raw, std::nullopt);
            return !stopped;
        });
        // A rule libical cannot run still leaves the first occurrence.
        if (!ran)
            emit(firstRawStart(recurrence), std::nullopt);
    }
    if (recurrence.rules.empty())
        emit(firstRawStart(recurrence), std::nullopt);
    for (const auto& extra : recurrence.extraStarts)
        emit(extra.start, extra.end);
}

}

}
