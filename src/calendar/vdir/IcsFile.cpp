#include "calendar/vdir/IcsFile.h"

#include "calendar/vdir/IcsText.h"
#include "channel/Utf8.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <limits>
#include <map>
#include <unordered_map>

namespace tarvio::vdir {

namespace {

constexpr Seconds unbounded = std::numeric_limits<Seconds>::max();
constexpr Seconds oneDay = 86400;
// Bounds the work one rule can cause (a secondly rule over decades).
constexpr int maximumSteps = 200000;

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};

Seconds wallSeconds(const icaltimetype& time)
{
    using namespace std::chrono;
    year_month_day date {year(time.year), month(static_cast<unsigned>(time.month)), day(static_cast<unsigned>(time.day))};
    return sys_days(date).time_since_epoch().count() * oneDay + time.hour * 3600 + time.minute * 60 + time.second;
}

Seconds localWallToSeconds(int yearValue, int monthValue, int dayValue, int hour, int minute, int second)
{
    std::tm local {};
    local.tm_year = yearValue - 1900;
    local.tm_mon = monthValue - 1;
    local.tm_mday = dayValue;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return static_cast<Seconds>(std::mktime(&local));
}

bool isUtc(const icaltimetype& time)
{
    return time.zone == icaltimezone_get_utc_timezone();
}

// A TZID that names a known zone is read with libical's built-in zone, not
// the file's VTIMEZONE: peers write VTIMEZONEs that cover a single year.
const icaltimezone* builtinZone(const std::string& tzid)
{
    static std::unordered_map<std::string, const icaltimezone*> known;
    if (auto found = known.find(tzid); found != known.end())
        return found->second;
    std::string name = tzid;
    for (const char* prefix : {"/freeassociation.sourceforge.net/Tzfile/", "/freeassociation.sourceforge.net/",
             "/softwarestudio.org/Olson_20011030_5/", "/mozilla.org/20050126_1/", "/mozilla.org/20070129_1/"}) {
        if (name.rfind(prefix, 0) == 0) {
            name = name.substr(std::char_traits<char>::length(prefix));
            break;
        }
    }
    const icaltimezone* zone = nullptr;
    if (name == "UTC" || name == "Etc/UTC" || name == "GMT" || name == "Z")
        zone = icaltimezone_get_utc_timezone();
    else if (!name.empty())
        zone = icaltimezone_get_builtin_timezone(name.c_str());
    known.emplace(tzid, zone);
    return zone;
}

struct ZoneResolver {
    icalcomponent* root = nullptr;
    const ProtectedText* texts = nullptr;
    bool usedFileZone = false;

    // The zone of a date-time property: none for UTC, dates and floating times.
    const icaltimezone* zoneOf(icalproperty* property, const icaltimezone* fallback = nullptr)
    {
        icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        const char* tzid = parameter ? icalparameter_get_tzid(parameter) : nullptr;
        if (!tzid)
            return fallback;
        if (auto zone = builtinZone(tzid))
            return zone;
        if (root && icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
            if (auto zone = icalcomponent_get_timezone(root, tzid)) {
                usedFileZone = true;
                return zone;
            }
        }
        return fallback;
    }
};

std::optional<std::string> textProperty(icalcomponent* component, icalproperty_kind kind, const ProtectedText* texts)
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
    if (text && texts) {
        if (auto original = protectedValue(*texts, text))
            return makeValidUtf8(*original);
    }
    return makeValidUtf8(text ? text : "");
}

std::string uidOf(icalcomponent* component)
{
    const char* uid = icalcomponent_get_uid(component);
    return uid ? uid : "";
}

Seconds addLocalDays(Seconds start, int days)
{
    std::time_t seconds = static_cast<std::time_t>(start);
    std::tm local {};
    ::localtime_r(&seconds, &local);
    return localMidnight(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday + days);
}

Seconds occurrenceEnd(const StoredEvent& event, Seconds start)
{
    const auto& recurrence = *event.recurrence;
    if (event.allDay)
        return addLocalDays(start, recurrence.durationDays);
    return start + recurrence.duration;
}

icaltimetype fromSeconds(Seconds seconds, bool isDate, const icaltimezone* zone, bool utc)
{
    if (zone || utc) {
        auto* target = const_cast<icaltimezone*>(zone ? zone : icaltimezone_get_utc_timezone());
        return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), isDate, target);
    }
    std::time_t value = static_cast<std::time_t>(seconds);
    std::tm local {};
    ::localtime_r(&value, &local);
    icaltimetype time = icaltime_null_time();
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    if (isDate) {
        time.is_date = 1;
        return time;
    }
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    return time;
}

long dayNumber(const icaltimetype& time)
{
    using namespace std::chrono;
    return sys_days(year_month_day(year(time.year), month(static_cast<unsigned>(time.month)),
                        day(static_cast<unsigned>(time.day))))
        .time_since_epoch()
        .count();
}

// Where a rule may start late so that it still yields the occurrences from
// `target` on: a whole number of intervals after its first start, which keeps
// the rule's phase. None where the rule must be walked from its start.
std::optional<icaltimetype> lateStart(const StoredEvent::Recurrence& recurrence, Seconds target)
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
void walkRule(const StoredEvent::Recurrence& recurrence, std::optional<Seconds> skipTo, Visit visit)
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

Seconds spanEnd(const StoredEvent& event)
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

StoredEvent readEvent(icalcomponent* component, ZoneResolver& zones, bool& valid)
{
    StoredEvent event;
    valid = false;
    icalproperty* startProperty = icalcomponent_get_first_property(component, ICAL_DTSTART_PROPERTY);
    if (!startProperty)
        return event;
    icaltimetype start = icalproperty_get_dtstart(startProperty);
    if (icaltime_is_null_time(start) || !icaltime_is_valid_time(start))
        return event;
    const icaltimezone* zone = isUtc(start) || start.is_date ? nullptr : zones.zoneOf(startProperty);

    event.title = textProperty(component, ICAL_SUMMARY_PROPERTY, zones.texts).value_or("");
    event.location = textProperty(component, ICAL_LOCATION_PROPERTY, zones.texts);
    event.notes = textProperty(component, ICAL_DESCRIPTION_PROPERTY, zones.texts);
    event.url = textProperty(component, ICAL_URL_PROPERTY, zones.texts);
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
        auto recurrence = std::make_shared<StoredEvent::Recurrence>();
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

StoredTodo readTodo(icalcomponent* component, ZoneResolver& zones)
{
    StoredTodo todo;
    todo.title = textProperty(component, ICAL_SUMMARY_PROPERTY, zones.texts).value_or("");
    todo.notes = textProperty(component, ICAL_DESCRIPTION_PROPERTY, zones.texts);
    todo.due = dueOf(component, zones);
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

Seconds localMidnight(int year, int month, int day)
{
    return localWallToSeconds(year, month, day, 0, 0, 0);
}

Seconds toSeconds(icaltimetype time, const icaltimezone* zone)
{
    if (time.is_date)
        return localMidnight(time.year, time.month, time.day);
    if (isUtc(time))
        return wallSeconds(time);
    if (zone) {
        time.zone = nullptr;
        return static_cast<Seconds>(icaltime_as_timet_with_zone(time, const_cast<icaltimezone*>(zone)));
    }
    return localWallToSeconds(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

ParsedFile parseIcs(const std::string& raw)
{
    ParsedFile parsed;
    ProtectedText texts = protectTexts(makeValidUtf8(raw));
    std::unique_ptr<icalcomponent, ComponentDeleter> root(icalparser_parse_string(texts.text.c_str()));
    if (!root)
        return parsed;
    ZoneResolver zones {root.get(), &texts};

    // Items are numbered by UID in order of appearance; overrides
    // (RECURRENCE-ID) belong to the item of their UID.
    std::map<std::string, size_t> eventItems;
    std::vector<icalcomponent*> overrides;
    for (icalcomponent* component : itemsOf(root.get(), ICAL_VEVENT_COMPONENT)) {
        if (icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY)) {
            overrides.push_back(component);
            continue;
        }
        bool valid;
        StoredEvent event = readEvent(component, zones, valid);
        if (!valid)
            continue;
        event.item = eventItems.emplace(uidOf(component), eventItems.size()).first->second;
        parsed.events.push_back(std::move(event));
    }
    for (icalcomponent* component : overrides) {
        bool valid;
        StoredEvent event = readEvent(component, zones, valid);
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
    for (icalcomponent* component : itemsOf(root.get(), ICAL_VTODO_COMPONENT)) {
        std::string uid = uidOf(component);
        bool isOverride = icalcomponent_get_first_property(component, ICAL_RECURRENCEID_PROPERTY) != nullptr;
        auto [found, added] = todoItems.emplace(uid, todoItems.size());
        if (isOverride || !added)
            continue;
        StoredTodo todo = readTodo(component, zones);
        todo.item = found->second;
        parsed.todos.push_back(std::move(todo));
    }

    if (zones.usedFileZone)
        parsed.zones = std::shared_ptr<icalcomponent>(root.release(), ComponentDeleter {});
    return parsed;
}

void expandEvent(const StoredEvent& event, Seconds from, Seconds to,
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
