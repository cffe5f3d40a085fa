#pragma once

#include "calendar/CalendarStore.h"

#include <optional>
#include <string>

namespace tarvio::vdir {

// iCalendar text of one new item. Timed instants are written in UTC, all-day
// days as VALUE=DATE (end exclusive), due dates as floating local times.
std::string eventText(const NewEvent& event, const std::string& uid, Instant now);
std::string reminderText(const NewReminder& reminder, const std::string& uid, Instant now);

// The file's text with its `item`-th to-do marked completed, everything else
// kept; none when the file holds no such to-do.
std::optional<std::string> completedText(const std::string& original, size_t item, Instant now);

// A fresh upper-case random UUID.
std::string newUid();

}
