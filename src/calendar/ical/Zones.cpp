#include "calendar/ical/Zones.h"

#include <unicode/ucal.h>

#include <unordered_map>
#include <vector>

namespace tarvio::ical {

namespace {

// The IANA zone of a Windows zone name, from the Unicode CLDR mapping
// (through ICU); "" when it names none.
std::string windowsZone(const std::string& name)
{
    if (name.empty() || name.size() > 128)
        return {};
    std::vector<UChar> windows(name.begin(), name.end());
    UChar zone[128];
    UErrorCode status = U_ZERO_ERROR;
    int32_t length = ucal_getTimeZoneIDForWindowsID(windows.data(), static_cast<int32_t>(windows.size()), nullptr, zone,
        static_cast<int32_t>(std::size(zone)), &status);
    if (U_FAILURE(status) || length <= 0 || length >= static_cast<int32_t>(std::size(zone)))
        return {};
    std::string result;
    for (int32_t i = 0; i < length; ++i) {
        if (zone[i] > 0x7F)
            return {};
        result += static_cast<char>(zone[i]);
    }
    return result;
}

}

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

const icaltimezone* windowsNamedZone(const std::string& tzid)
{
    static std::unordered_map<std::string, const icaltimezone*> known;
    if (auto found = known.find(tzid); found != known.end())
        return found->second;
    std::string name = windowsZone(tzid);
    const icaltimezone* zone = name.empty() ? nullptr : builtinZone(name);
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
    if (auto zone = windowsNamedZone(tzid))
        return zone;
    return fallback;
}

}
