#pragma once

#include "calendar/CalendarStore.h"

#include <libical/ical.h>

namespace tarvio::ical {

// The written form of a completed to-do, the same for every store:
// STATUS:COMPLETED, COMPLETED and PERCENT-COMPLETE:100, stamped `now`;
// everything else kept.
void markCompleted(icalcomponent* todo, Instant now);

}
