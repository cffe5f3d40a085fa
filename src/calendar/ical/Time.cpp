#include "calendar/ical/Time.h"

#include <chrono>
#include <ctime>

namespace tarvio::ical {

namespace {

constexpr Seconds oneDay = 86400;

}

bool isUtc(const icaltimetype& time)
{
    return time.zone == icaltimezone_get_utc_timezone();
}

long dayNumber(const icaltimetype& time)
{
    using namespace std::chrono;
    return sys_days(year_month_day(year(time.year), month(static_cast<unsigned>(time.month)),
                        day(static_cast<unsigned>(time.day))))
        .time_since_epoch()
        .count();
}

Seconds wallSeconds(const icaltimetype& time)
{
    return dayNumber(time) * oneDay + time.hour * 3600 + time.minute * 60 + time.second;
}

Seconds localWallToSeconds(int yearValue, int monthValue, int dayValue, int hour, int minute, int second)
{
    std::tm local {};
    local.tm_year = yearValue - 1900;
    local.tm_mon = monthValue - 1;
    local.tm_mday = dayValue;
    local.tm_hour = hour;
    local.tm_min = minute;
    local.tm_sec = second;
    local.tm_isdst = -1;
    return static_cast<Seconds>(std::mktime(&local));
}

Seconds localMidnight(int year, int month, int day)
{
    return localWallToSeconds(year, month, day, 0, 0, 0);
}

Seconds toSeconds(icaltimetype time, const icaltimezone* zone)
{
    if (time.is_date)
        return localMidnight(time.year, time.month, time.day);
    if (isUtc(time))
        return wallSeconds(time);
    if (zone) {
        time.zone = nullptr;
        return static_cast<Seconds>(icaltime_as_timet_with_zone(time, const_cast<icaltimezone*>(zone)));
    }
    return localWallToSeconds(time.year, time.month, time.day, time.hour, time.minute, time.second);
}

icaltimetype fromSeconds(Seconds seconds, bool isDate, const icaltimezone* zone, bool utc)
{
    if (zone || utc) {
        auto* target = const_cast<icaltimezone*>(zone ? zone : icaltimezone_get_utc_timezone());
        return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), isDate, target);
    }
    std::time_t value = static_cast<std::time_t>(seconds);
    std::tm local {};
    ::localtime_r(&value, &local);
    icaltimetype time = icaltime_null_time();
    time.year = local.tm_year + 1900;
    time.month = local.tm_mon + 1;
    time.day = local.tm_mday;
    if (isDate) {
        time.is_date = 1;
        return time;
    }
    time.hour = local.tm_hour;
    time.minute = local.tm_min;
    time.second = local.tm_sec;
    return time;
}

Seconds addLocalDays(Seconds start, int days)
{
    std::time_t seconds = static_cast<std::time_t>(start);
    std::tm local {};
    ::localtime_r(&seconds, &local);
    return localMidnight(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday + days);
}

}
