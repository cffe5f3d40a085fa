#include "calendar/ical/Forms.h"

#include "calendar/LocalTime.h"

#include <uuid/uuid.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <string_view>

namespace tarvio::ical {

namespace {

// A TEXT value may hold no control character but tab (RFC 5545): line
// breaks become the escaped line feeds libical writes, and any other
// control character U+FFFD, so nothing raw reaches the file.
std::string textValue(std::string_view text)
{
    std::string value;
    value.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\r') {
            value += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else if ((c < 0x20 && c != '\t' && c != '\n') || c == 0x7F) {
            value += "\xEF\xBF\xBD";
        } else {
            value += static_cast<char>(c);
        }
    }
    return value;
}

icaltimetype localDate(Instant instant, int addDays)
{
    DateComponents local = localComponents(instant);
    std::tm fields {};
    fields.tm_year = local.year - 1900;
    fields.tm_mon = local.month - 1;
    fields.tm_mday = local.day + addDays;
    fields.tm_hour = 12;
    fields.tm_isdst = -1;
    std::mktime(&fields);
    icaltimetype date = icaltime_null_date();
    date.year = fields.tm_year + 1900;
    date.month = fields.tm_mon + 1;
    date.day = fields.tm_mday;
    return date;
}

Component wrap(icalcomponent* item)
{
    Component calendar(icalcomponent_new(ICAL_VCALENDAR_COMPONENT));
    icalcomponent_add_property(calendar.get(), icalproperty_new_version("2.0"));
    icalcomponent_add_property(calendar.get(), icalproperty_new_prodid("-//Tarvio//tarvio-helper 1.0.0//PT"));
    icalcomponent_add_component(calendar.get(), item);
    return calendar;
}

void stamp(icalcomponent* item, Instant now, bool created)
{
    icalcomponent_add_property(item, icalproperty_new_dtstamp(utcTime(now)));
    if (created)
        icalcomponent_add_property(item, icalproperty_new_created(utcTime(now)));
    icalcomponent_add_property(item, icalproperty_new_lastmodified(utcTime(now)));
}

icalcomponent* displayAlarm(const std::string& description, icaltriggertype trigger)
{
    icalcomponent* alarm = icalcomponent_new(ICAL_VALARM_COMPONENT);
    icalcomponent_add_property(alarm, icalproperty_new_action(ICAL_ACTION_DISPLAY));
    icalcomponent_add_property(alarm, icalproperty_new_description(textValue(description).c_str()));
    icalproperty* property = icalproperty_new_trigger(trigger);
    // An absolute trigger must say so, or readers take it for a duration.
    if (!icaltime_is_null_time(trigger.time))
        icalproperty_add_parameter(property, icalparameter_new_value(ICAL_VALUE_DATETIME));
    icalcomponent_add_property(alarm, property);
    return alarm;
}

}

icaltimetype utcTime(Instant instant)
{
    auto seconds = std::chrono::floor<std::chrono::seconds>(instant).time_since_epoch().count();
    return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), 0, icaltimezone_get_utc_timezone());
}

Component calendarWrapping(Component item)
{
    return wrap(item.release());
}

std::string serialise(icalcomponent* calendar)
{
    char* text = icalcomponent_as_ical_string_r(calendar);
    if (!text)
        return {};
    std::string result(text);
    std::free(text);
    return result;
}

std::string newUid()
{
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

Component newEventComponent(const NewEvent& event, const std::string& uid, Instant now)
{
    Component component(icalcomponent_new(ICAL_VEVENT_COMPONENT));
    icalcomponent* item = component.get();
    icalcomponent_add_property(item, icalproperty_new_uid(uid.c_str()));
    stamp(item, now, true);
    icalcomponent_add_property(item, icalproperty_new_summary(textValue(event.title).c_str()));
    if (event.allDay) {
        icaltimetype first = localDate(event.start, 0);
        icaltimetype last = localDate(event.end, 1);
        if (icaltime_compare_date_only(last, first) <= 0)
            last = localDate(event.start, 1);
        icalcomponent_add_property(item, icalproperty_new_dtstart(first));
        icalcomponent_add_property(item, icalproperty_new_dtend(last));
        icalcomponent_add_property(item, icalproperty_new_transp(ICAL_TRANSP_TRANSPARENT));
    } else {
        icalcomponent_add_property(item, icalproperty_new_dtstart(utcTime(event.start)));
        icalcomponent_add_property(item, icalproperty_new_dtend(utcTime(event.end)));
    }
    if (event.location)
        icalcomponent_add_property(item, icalproperty_new_location(textValue(*event.location).c_str()));
    if (event.notes)
        icalcomponent_add_property(item, icalproperty_new_description(textValue(*event.notes).c_str()));
    if (event.alarmOffsetSeconds) {
        // Whole seconds, within what a trigger can hold.
        double offset = std::clamp(std::round(*event.alarmOffsetSeconds), static_cast<double>(-INT_MAX), 0.0);
        icaltriggertype trigger {};
        trigger.time = icaltime_null_time();
        trigger.duration = icaldurationtype_from_int(static_cast<int>(offset));
        icalcomponent_add_component(item, displayAlarm(event.title, trigger));
    }
    return component;
}

Component newTodoComponent(const NewReminder& reminder, const std::string& uid, Instant now)
{
    Component component(icalcomponent_new(ICAL_VTODO_COMPONENT));
    icalcomponent* item = component.get();
    icalcomponent_add_property(item, icalproperty_new_uid(uid.c_str()));
    stamp(item, now, true);
    icalcomponent_add_property(item, icalproperty_new_summary(textValue(reminder.title).c_str()));
    if (reminder.notes)
        icalcomponent_add_property(item, icalproperty_new_description(textValue(*reminder.notes).c_str()));
    if (reminder.due) {
        // Floating: the wall-clock time with no zone.
        icaltimetype due = icaltime_null_time();
        due.year = reminder.due->year;
        due.month = reminder.due->month;
        due.day = reminder.due->day;
        due.hour = reminder.due->hour;
        due.minute = reminder.due->minute;
        due.second = reminder.due->second;
        icalcomponent_add_property(item, icalproperty_new_due(due));
    }
    icalcomponent_add_property(item, icalproperty_new_status(ICAL_STATUS_NEEDSACTION));
    if (reminder.alarm) {
        icaltriggertype trigger {};
        trigger.time = utcTime(*reminder.alarm);
        trigger.duration = icaldurationtype_null_duration();
        icalcomponent_add_component(item, displayAlarm(reminder.title, trigger));
    }
    return component;
}

}
