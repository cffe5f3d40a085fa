#pragma once

#include "calendar/CalendarStore.h"

namespace tarvio {

// The machine's calendar in its current time zone (TZ honoured).

// The first instant of the local day that holds `instant`.
Instant startOfDay(Instant instant);
// Local wall-clock fields of `instant`, whole seconds, no zone.
DateComponents localComponents(Instant instant);
// The instant the fields name: in their offset when they carry one, else in
// the machine's zone. None when they form no date.
std::optional<Instant> instantFromComponents(const DateComponents& components);

}
