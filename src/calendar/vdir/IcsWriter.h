#pragma once

#include "calendar/CalendarStore.h"

#include <optional>
#include <string>

namespace tarvio::vdir {

// iCalendar text of one new item. Timed instants are written in UTC, all-day
// days as VALUE=DATE (end exclusive), due dates as floating local times.
std::string eventText(const NewEvent& event, const std::string& uid, Instant now);
std::string reminderText(const NewReminder& reminder, const std::string& uid, Instant now);

// The file's text with its `component`-th VTODO marked completed: only the
// lines completion means (STATUS, COMPLETED, PERCENT-COMPLETE, DTSTAMP,
// LAST-MODIFIED, SEQUENCE) change, every other byte is kept, so that other
// programs' properties and forms survive. None when there is no such VTODO.
std::optional<std::string> completedText(const std::string& original, size_t component, Instant now);

}
