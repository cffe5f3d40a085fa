#include "calendar/ical/Completion.h"

#include "calendar/ical/Forms.h"

namespace tarvio::ical {

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

void markCompleted(icalcomponent* todo, Instant now)
{
    replaceProperty(todo, ICAL_STATUS_PROPERTY, icalproperty_new_status(ICAL_STATUS_COMPLETED));
    replaceProperty(todo, ICAL_COMPLETED_PROPERTY, icalproperty_new_completed(utcTime(now)));
    replaceProperty(todo, ICAL_PERCENTCOMPLETE_PROPERTY, icalproperty_new_percentcomplete(100));
    replaceProperty(todo, ICAL_DTSTAMP_PROPERTY, icalproperty_new_dtstamp(utcTime(now)));
    replaceProperty(todo, ICAL_LASTMODIFIED_PROPERTY, icalproperty_new_lastmodified(utcTime(now)));
}

}
