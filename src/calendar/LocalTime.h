#pragma once

#include "calendar/CalendarStore.h"
#include "channel/Json.h"

#include <string_view>

namespace tarvio {

// The machine's calendar in its current time zone (TZ honoured).

// The first instant of the local day that holds `instant`.
Instant startOfDay(Instant instant);
// Local wall-clock fields of `instant`, whole seconds, no zone.
DateComponents localComponents(Instant instant);
// The instant the fields name: in their offset when they carry one, else in
// the machine's zone. None when they form no date.
std::optional<Instant> instantFromComponents(const DateComponents& components);

// The date parameter `name` as parseDate reads it, refused with the same
// error when its year, in UTC or in the machine's zone, lies outside 1 to
// 3000: libical, which every store writes through, writes other years as
// 00000000T000000.
Instant parseStorableDate(const Json& params, std::string_view name);

}
