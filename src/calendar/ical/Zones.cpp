#include "calendar/ical/Zones.h"

#include <unordered_map>

namespace tarvio::ical {

const icaltimezone* builtinZone(const std::string& tzid)
{
    static std::unordered_map<std::string, const icaltimezone*> known;
    if (auto found = known.find(tzid); found != known.end())
        return found->second;
    std::string name = tzid;
    for (const char* prefix : {"/freeassociation.sourceforge.net/Tzfile/", "/freeassociation.sourceforge.net/",
             "/softwarestudio.org/Olson_20011030_5/", "/mozilla.org/20050126_1/", "/mozilla.org/20070129_1/"}) {
        if (name.rfind(prefix, 0) == 0) {
            name = name.substr(std::char_traits<char>::length(prefix));
            break;
        }
    }
    const icaltimezone* zone = nullptr;
    if (name == "UTC" || name == "Etc/UTC" || name == "GMT" || name == "Z")
        zone = icaltimezone_get_utc_timezone();
    else if (!name.empty())
        zone = icaltimezone_get_builtin_timezone(name.c_str());
    known.emplace(tzid, zone);
    return zone;
}

const icaltimezone* ZoneResolver::zoneOf(icalproperty* property, const icaltimezone* fallback)
{
    icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
    const char* tzid = parameter ? icalparameter_get_tzid(parameter) : nullptr;
    if (!tzid)
        return fallback;
    if (auto zone = builtinZone(tzid))
        return zone;
    if (calendar && icalcomponent_isa(calendar) == ICAL_VCALENDAR_COMPONENT) {
        if (auto zone = icalcomponent_get_timezone(calendar, tzid)) {
            usedFileZone = true;
            return zone;
        }
    }
    return fallback;
}

}
