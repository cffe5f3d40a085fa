#pragma once

#include "calendar/CalendarStore.h"

#include <libical/ical.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tarvio::vdir {

// Seconds since the epoch, UTC.
using Seconds = int64_t;

// One VEVENT as the store keeps it between requests: its texts and either one
// span or what its recurrence needs to be expanded again.
struct StoredEvent {
    size_t item = 0; // which item of its file (0 for the first UID)
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
        std::optional<icalrecurrencetype> rule;
        icaltimetype firstStart {};
        const icaltimezone* zone = nullptr;
        Seconds duration = 0;  // timed events
        int durationDays = 0;  // all-day events
        std::vector<Seconds> extraStarts; // RDATE
        std::vector<Seconds> excluded;    // EXDATE and overridden instances
    };
    std::shared_ptr<Recurrence> recurrence;
};

struct StoredTodo {
    size_t item = 0;
    std::string title;
    std::optional<std::string> notes;
    std::optional<DateComponents> due;
    bool completed = false;
};

struct ParsedFile {
    std::vector<StoredEvent> events;
    std::vector<StoredTodo> todos;
    // Keeps alive the file's own VTIMEZONEs that recurring events refer to.
    std::shared_ptr<icalcomponent> zones;
};

// Parses the text of one .ics file (made valid UTF-8 first). Unparseable
// text gives an empty file, never an error.
ParsedFile parseIcs(const std::string& text);

// Calls `occurrence(start, end)` for each occurrence overlapping [from, to).
void expandEvent(const StoredEvent& event, Seconds from, Seconds to,
    const std::function<void(Seconds start, Seconds end)>& occurrence);

// Machine-local conversions used for floating times and dates.
Seconds localMidnight(int year, int month, int day);
Seconds toSeconds(icaltimetype time, const icaltimezone* zone);

}
