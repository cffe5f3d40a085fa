#include "calendar/LocalTime.h"

#include "channel/HelperError.h"

#include <ctime>
#include <string>

namespace tarvio {

using namespace std::chrono;

Instant startOfDay(Instant instant)
{
    std::time_t seconds = floor<std::chrono::seconds>(instant).time_since_epoch().count();
    std::tm local {};
    if (!::localtime_r(&seconds, &local))
        return instant;
    local.tm_hour = 0;
    local.tm_min = 0;
    local.tm_sec = 0;
    local.tm_isdst = -1;
    // Where midnight does not exist (a clock change at 00:00), mktime moves it
    // to the first instant that does.
    std::time_t midnight = std::mktime(&local);
    if (midnight == -1)
        return instant;
    return Instant(std::chrono::seconds(midnight));
}

DateComponents localComponents(Instant instant)
{
    std::time_t seconds = floor<std::chrono::seconds>(instant).time_since_epoch().count();
    std::tm local {};
    ::localtime_r(&seconds, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, std::nullopt};
}

std::optional<Instant> instantFromComponents(const DateComponents& components)
{
    year_month_day date {year(components.year), month(static_cast<unsigned>(components.month)),
        day(static_cast<unsigned>(components.day))};
    if (!date.ok() || components.hour < 0 || components.hour > 23 || components.minute < 0 || components.minute > 59
        || components.second < 0 || components.second > 60)
        return std::nullopt;
    if (components.utcOffsetSeconds) {
        auto wall = sys_days(date) + hours(components.hour) + minutes(components.minute) + seconds(components.second);
        return Instant(wall - seconds(*components.utcOffsetSeconds));
    }
    std::tm local {};
    local.tm_year = components.year - 1900;
    local.tm_mon = components.month - 1;
    local.tm_mday = components.day;
    local.tm_hour = components.hour;
    local.tm_min = components.minute;
    local.tm_sec = components.second;
    local.tm_isdst = -1;
    std::time_t result = std::mktime(&local);
    if (result == -1 && !(components.year == 1969 || components.year == 1970))
        return std::nullopt;
    return Instant(seconds(result));
}

namespace {

constexpr int firstStorableYear = 1;
constexpr int lastStorableYear = 3000;

bool storable(Instant instant)
{
    using namespace std::chrono;
    auto days = floor<std::chrono::days>(instant);
    int utcYear = static_cast<int>(year_month_day(days).year());
    // Checked in UTC first, so the local conversion below stays in range.
    if (utcYear < firstStorableYear || utcYear > lastStorableYear)
        return false;
    int localYear = localComponents(instant).year;
    return localYear >= firstStorableYear && localYear <= lastStorableYear;
}

}

Instant parseStorableDate(const Json& params, std::string_view name)
{
    Instant instant = parseDate(params, name);
    if (!storable(instant))
        throw invalidParams(std::string(name) + " deve ser uma data ISO 8601 (ex: 2026-11-15T10:00:00Z)");
    return instant;
}

}
