#include "calendar/vdir/IcsWriter.h"

#include "calendar/ical/Forms.h"
#include "calendar/vdir/IcsText.h"
#include "channel/Utf8.h"

#include <libical/ical.h>
#include <uuid/uuid.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>

namespace tarvio::vdir {

using ical::Component;
using ical::utcTime;

namespace {

void replaceProperty(icalcomponent* item, icalproperty_kind kind, icalproperty* replacement)
{
    while (icalproperty* old = icalcomponent_get_first_property(item, kind)) {
        icalcomponent_remove_property(item, old);
        icalproperty_free(old);
    }
    icalcomponent_add_property(item, replacement);
}

}

std::string newUid()
{
    uuid_t uuid;
    uuid_generate_random(uuid);
    char text[37];
    uuid_unparse_upper(uuid, text);
    return text;
}

std::string eventText(const NewEvent& event, const std::string& uid, Instant now)
{
    return ical::serialise(ical::calendarWrapping(ical::newEventComponent(event, uid, now)).get());
}

std::string reminderText(const NewReminder& reminder, const std::string& uid, Instant now)
{
    return ical::serialise(ical::calendarWrapping(ical::newTodoComponent(reminder, uid, now)).get());
}

std::optional<std::string> completedText(const std::string& original, size_t item, Instant now)
{
    ProtectedText texts = protectTexts(makeValidUtf8(original));
    Component root(icalparser_parse_string(texts.text.c_str()));
    if (!root)
        return std::nullopt;
    std::map<std::string, size_t> items;
    icalcomponent* target = nullptr;
    auto consider = [&](icalcomponent* todo) {
        const char* uid = icalcomponent_get_uid(todo);
        auto [found, added] = items.emplace(uid ? uid : "", items.size());
        if (added && found->second == item && !icalcomponent_get_first_property(todo, ICAL_RECURRENCEID_PROPERTY))
            target = todo;
    };
    if (icalcomponent_isa(root.get()) == ICAL_VTODO_COMPONENT)
        consider(root.get());
    for (icalcomponent* todo = icalcomponent_get_first_component(root.get(), ICAL_VTODO_COMPONENT); todo && !target;
         todo = icalcomponent_get_next_component(root.get(), ICAL_VTODO_COMPONENT))
        consider(todo);
    if (!target)
        return std::nullopt;
    replaceProperty(target, ICAL_STATUS_PROPERTY, icalproperty_new_status(ICAL_STATUS_COMPLETED));
    replaceProperty(target, ICAL_COMPLETED_PROPERTY, icalproperty_new_completed(utcTime(now)));
    replaceProperty(target, ICAL_PERCENTCOMPLETE_PROPERTY, icalproperty_new_percentcomplete(100));
    replaceProperty(target, ICAL_DTSTAMP_PROPERTY, icalproperty_new_dtstamp(utcTime(now)));
    replaceProperty(target, ICAL_LASTMODIFIED_PROPERTY, icalproperty_new_lastmodified(utcTime(now)));
    return restoreTexts(ical::serialise(root.get()), texts);
}

}
