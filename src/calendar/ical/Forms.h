#pragma once

#include "calendar/CalendarStore.h"

#include <libical/ical.h>

#include <memory>
#include <string>

namespace tarvio::ical {

struct ComponentDeleter {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentDeleter>;

// A new item's UID: a random UUID, upper case.
std::string newUid();

// The written forms of new items, the same for every store. Timed instants
// are written in UTC, all-day days as VALUE=DATE (end exclusive), due dates
// as floating local times.
Component newEventComponent(const NewEvent& event, const std::string& uid, Instant now);
Component newTodoComponent(const NewReminder& reminder, const std::string& uid, Instant now);

// A VCALENDAR (VERSION, PRODID) holding `item`.
Component calendarWrapping(Component item);
std::string serialise(icalcomponent* calendar);

icaltimetype utcTime(Instant instant);

}
