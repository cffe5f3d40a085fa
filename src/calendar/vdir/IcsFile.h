#pragma once

#include "calendar/ical/Items.h"

#include <libical/ical.h>

#include <memory>
#include <string>
#include <vector>

namespace tarvio::vdir {

using ical::Seconds;
using StoredEvent = ical::EventItem;
using StoredTodo = ical::TodoItem;

struct ParsedFile {
    std::vector<StoredEvent> events;
    std::vector<StoredTodo> todos;
    // Keeps alive the file's own VTIMEZONEs that recurring events refer to.
    std::shared_ptr<icalcomponent> zones;
};

// Parses the text of one .ics file (made valid UTF-8 first). Unparseable
// text gives an empty file, never an error.
ParsedFile parseIcs(const std::string& text);

using ical::expandEvent;

}
