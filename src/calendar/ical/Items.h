#pragma once

#include "calendar/CalendarStore.h"
#include "calendar/ical/Time.h"
#include "calendar/ical/Zones.h"

#include <libical/ical.h>

#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace tarvio::ical {

// One VEVENT as a store keeps it between requests: its texts and either one
// span or what its recurrence needs to be expanded again. Nothing in it
// points into the components it was read from, zones aside (see
// ZoneResolver::usedCalendarZone).
struct EventItem {
    size_t item = 0; // which item of its calendar (0 for the first UID)
    std::string title;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    std::optional<std::string> url;
    bool allDay = false;
    Seconds start = 0;
    Seconds end = 0;
    // Latest end of any occurrence (start..lastEnd bounds them all).
    Seconds lastEnd = 0;

    struct Recurrence {
        struct Rule {
            icalrecurrencetype rule {}; // its RSCALE is `scale`, set at each use
            std::string scale;
        };
        struct ExtraStart {
            Seconds start = 0;
            std::optional<Seconds> end; // an RDATE period's own end
        };
        std::vector<Rule> rules; // RRULE, UNTIL in the start's clock
        // DTSTART without its zone: rules run on wall-clock fields.
        icaltimetype firstStart {};
        const icaltimezone* zone = nullptr;
        Seconds duration = 0;  // timed events
        int durationDays = 0;  // all-day events
        std::vector<ExtraStart> extraStarts; // RDATE
        std::vector<Seconds> excluded;    // EXDATE and overridden instances
        std::vector<long> excludedDays;   // EXDATE dates of a timed series, in its clock
        // Only the rule's instances in [notBefore, notFrom) count, each moved
        // by `shift`: what a RANGE=THISANDFUTURE override makes of a series.
        Seconds notBefore = std::numeric_limits<Seconds>::min();
        Seconds notFrom = std::numeric_limits<Seconds>::max();
        Seconds shift = 0;

        // Every occurrence of a finite series that has few enough, in the
        // order they are expanded, kept after the first listing: walking a
        // rule costs far more than reading a list.
        struct Listed {
            bool tried = false;
            bool complete = false;
            std::vector<std::pair<Seconds, Seconds>> occurrences;
        };
        Listed listed;
    };
    std::shared_ptr<Recurrence> recurrence;
};

struct TodoItem {
    size_t item = 0;
    size_t component = 0; // which VTODO of its calendar, counting from 0
    std::string title;
    std::optional<std::string> notes;
    std::optional<DateComponents> due;
    bool completed = false;
};

struct Items {
    std::vector<EventItem> events;
    std::vector<TodoItem> todos;
};

// Gives the original text behind a TEXT value libical handed out, where the
// caller kept it (libical trims values); none to take libical's value.
using OriginalText = std::function<std::optional<std::string>(const char* value)>;

// Reads the VEVENTs and VTODOs of `calendar` (a VCALENDAR, or one lone
// VEVENT or VTODO). Items are numbered by UID in order of appearance;
// overrides (RECURRENCE-ID) belong to the item of their UID. Texts are made
// valid UTF-8.
Items readItems(icalcomponent* calendar, ZoneResolver& zones, const OriginalText& originalText = {});

// Calls `occurrence(start, end)` for each occurrence overlapping [from, to).
void expandEvent(const EventItem& event, Seconds from, Seconds to,
    const std::function<void(Seconds start, Seconds end)>& occurrence);

// What the handlers see of a stored event's occurrence and of a to-do.
Instant instantOf(Seconds seconds);
Event eventOf(const EventItem& stored, const Calendar& calendar, const std::string& identifier, Seconds start, Seconds end);
Reminder reminderOf(const TodoItem& todo, const Calendar& list, const std::string& identifier);

}
