#pragma once

#include <libical/ical.h>

#include <cstdint>

namespace tarvio::ical {

// Seconds since the epoch, UTC.
using Seconds = int64_t;

bool isUtc(const icaltimetype& time);
// The fields of `time` read as UTC, whatever its zone.
Seconds wallSeconds(const icaltimetype& time);
// Machine-local conversions used for floating times and dates.
Seconds localMidnight(int year, int month, int day);
Seconds localWallToSeconds(int year, int month, int day, int hour, int minute, int second);
// A date is its local midnight; a floating time is read in the machine's zone.
Seconds toSeconds(icaltimetype time, const icaltimezone* zone);
// The instant as a time in `zone`, in UTC, or floating local time.
icaltimetype fromSeconds(Seconds seconds, bool isDate, const icaltimezone* zone, bool utc);
// Local midnight `days` days after the local day holding `start`.
Seconds addLocalDays(Seconds start, int days);
// Days since the epoch of a time's date fields.
long dayNumber(const icaltimetype& time);

}
