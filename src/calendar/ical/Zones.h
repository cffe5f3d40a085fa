#pragma once

#include <libical/ical.h>

#include <string>

namespace tarvio::ical {

// libical's built-in zone for a TZID that names a known zone (vendor
// prefixes removed), UTC for the names of UTC; none otherwise.
const icaltimezone* builtinZone(const std::string& tzid);

// The built-in zone of a Windows zone name ("Pacific Standard Time").
const icaltimezone* windowsNamedZone(const std::string& tzid);

// Resolves the TZID parameters of one calendar's properties: built-in zones
// first (peers write VTIMEZONEs that cover a single year), then the
// calendar's own VTIMEZONEs, then Windows zone names.
class ZoneResolver {
public:
    // `calendar` may be none or a lone component; only a VCALENDAR's
    // VTIMEZONEs are used. It must outlive the resolver and the zones given.
    explicit ZoneResolver(icalcomponent* calendar) : calendar(calendar) {}

    // The zone of a date-time property: `fallback` for UTC, dates and
    // floating times or an unknown TZID.
    const icaltimezone* zoneOf(icalproperty* property, const icaltimezone* fallback = nullptr);
    // Whether a zone of the calendar itself was handed out, so that the
    // calendar must be kept alive as long as what was read with it.
    bool usedCalendarZone() const { return usedFileZone; }

private:
    icalcomponent* calendar;
    bool usedFileZone = false;
};

}
