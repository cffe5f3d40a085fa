#include "channel/Dates.h"

#include "channel/HelperError.h"
#include "channel/Params.h"

#include <cstdio>

namespace tarvio {

constinit const IsoDateFormatter isoPlain {IsoDateFormatter::internetDateTime};
constinit const IsoDateFormatter isoFrac {IsoDateFormatter::withFractionalSeconds};

namespace {

class Cursor {
public:
    explicit Cursor(std::string_view text) : text(text) {}

    bool digits(int count, int& value)
    {
        if (text.size() - position < static_cast<size_t>(count))
            return false;
        value = 0;
        for (int i = 0; i < count; ++i) {
            char c = text[position + i];
            if (c < '0' || c > '9')
                return false;
            value = value * 10 + (c - '0');
        }
        position += count;
        return true;
    }

    bool literal(char expected)
    {
        if (position >= text.size() || text[position] != expected)
            return false;
        ++position;
        return true;
    }

    bool atDigit() const { return position < text.size() && text[position] >= '0' && text[position] <= '9'; }
    char next() const { return position < text.size() ? text[position] : '\0'; }
    void advance() { ++position; }
    bool atEnd() const { return position == text.size(); }

private:
    std::string_view text;
    size_t position = 0;
};

}

std::optional<Instant> IsoDateFormatter::parse(std::string_view text) const
{
    using namespace std::chrono;
    Cursor cursor(text);
    int yearValue, monthValue, dayValue, hour, minute, second;
    if (!cursor.digits(4, yearValue) || !cursor.literal('-') || !cursor.digits(2, monthValue) || !cursor.literal('-')
        || !cursor.digits(2, dayValue) || !cursor.literal('T') || !cursor.digits(2, hour) || !cursor.literal(':')
        || !cursor.digits(2, minute) || !cursor.literal(':') || !cursor.digits(2, second))
        return std::nullopt;
    year_month_day date {year(yearValue), month(static_cast<unsigned>(monthValue)), day(static_cast<unsigned>(dayValue))};
    if (!date.ok() || hour > 23 || minute > 59 || second > 59)
        return std::nullopt;

    milliseconds fraction {0};
    if (options == withFractionalSeconds) {
        if (!cursor.literal('.') || !cursor.atDigit())
            return std::nullopt;
        int scale = 100;
        while (cursor.atDigit()) {
            fraction += milliseconds((cursor.next() - '0') * scale);
            scale /= 10;
            cursor.advance();
        }
    }

    minutes offset {0};
    if (!cursor.literal('Z')) {
        char sign = cursor.next();
        if (sign != '+' && sign != '-')
            return std::nullopt;
        cursor.advance();
        int offsetHours, offsetMinutes;
        if (!cursor.digits(2, offsetHours) || !cursor.literal(':') || !cursor.digits(2, offsetMinutes))
            return std::nullopt;
        if (offsetHours > 23 || offsetMinutes > 59)
            return std::nullopt;
        offset = hours(offsetHours) + minutes(offsetMinutes);
        if (sign == '-')
            offset = -offset;
    }
    if (!cursor.atEnd())
        return std::nullopt;

    return sys_days(date) + hours(hour) + minutes(minute) + seconds(second) + fraction - offset;
}

std::string IsoDateFormatter::format(Instant instant) const
{
    using namespace std::chrono;
    auto wholeSeconds = floor<seconds>(instant);
    auto dayPoint = floor<days>(wholeSeconds);
    year_month_day date {dayPoint};
    hh_mm_ss time {wholeSeconds - dayPoint};
    int yearValue = static_cast<int>(date.year());
    if (yearValue < 0 || yearValue > 9999) {
        char text[48];
        std::snprintf(text, sizeof text, "%04d-%02u-%02uT%02d:%02d:%02dZ", yearValue, static_cast<unsigned>(date.month()),
            static_cast<unsigned>(date.day()), static_cast<int>(time.hours().count()),
            static_cast<int>(time.minutes().count()), static_cast<int>(time.seconds().count()));
        return text;
    }
    // Every listed event writes two of these: no format parsing on that path.
    std::string text = "0000-00-00T00:00:00Z";
    auto put = [&](size_t at, int value, int digits) {
        for (int i = digits - 1; i >= 0; --i, value /= 10)
            text[at + static_cast<size_t>(i)] = static_cast<char>('0' + value % 10);
    };
    put(0, yearValue, 4);
    put(5, static_cast<int>(static_cast<unsigned>(date.month())), 2);
    put(8, static_cast<int>(static_cast<unsigned>(date.day())), 2);
    put(11, static_cast<int>(time.hours().count()), 2);
    put(14, static_cast<int>(time.minutes().count()), 2);
    put(17, static_cast<int>(time.seconds().count()), 2);
    return text;
}

Instant parseDate(const Json* value, std::string_view name)
{
    if (auto text = asString(value)) {
        if (auto instant = isoPlain.parse(*text))
            return *instant;
        if (auto instant = isoFrac.parse(*text))
            return *instant;
    }
    throw invalidParams(std::string(name) + " deve ser uma data ISO 8601 (ex: 2026-11-15T10:00:00Z)");
}

Instant parseDate(const Json& params, std::string_view name)
{
    return parseDate(member(params, name), name);
}

}
