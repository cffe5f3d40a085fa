#pragma once

#include "calendar/CalendarStore.h"

#include <memory>

namespace tarvio {

// The store the calendar methods use, chosen at their first request: EDS's
// calendars and lists when its source registry answers on the session bus
// (a short, bounded wait), with the helper's own collections beside them only
// where they already exist; otherwise the helper's own vdir store, created on
// first use. khal's and todoman's collections are served in both cases.
std::unique_ptr<CalendarStore> chooseCalendarStore();

}
