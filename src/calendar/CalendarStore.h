#pragma once

#include "channel/Dates.h"

#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tarvio {

enum class EntityKind { events = 0, reminders = 1 };

// Authorization statuses as the handlers see them; a store may report any
// other number, which reads as "unknown".
namespace authorization {
constexpr int notDetermined = 0;
constexpr int restricted = 1;
constexpr int denied = 2;
constexpr int fullAccess = 3;
constexpr int writeOnly = 4;
}

// sRGB components, nominally 0 to 1.
struct Rgb {
    double red = 0;
    double green = 0;
    double blue = 0;
};

struct Calendar {
    std::string identifier;
    std::string title;
    bool writable = false;
    std::optional<Rgb> color;
    // Which store serves it ("eds", "vdir"), where several serve together.
    std::string store {};
};

struct Event {
    std::string identifier;
    std::string title;
    std::optional<Instant> start;
    std::optional<Instant> end;
    std::optional<Calendar> calendar;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    std::optional<std::string> url;
    bool allDay = false;
};

// What a new event is saved with. All-day events pass the first instant of
// their first and last day.
struct NewEvent {
    std::string calendarIdentifier;
    std::string title;
    Instant start;
    Instant end;
    bool allDay = false;
    std::optional<std::string> location;
    std::optional<std::string> notes;
    // Seconds from the start (negative: before).
    std::optional<double> alarmOffsetSeconds;
};

// Wall-clock fields of a due date. Without an offset they are read in the
// machine's time zone.
struct DateComponents {
    int year = 0;
    int month = 0;
    int day = 0;
    int hour = 0;
    int minute = 0;
    int second = 0;
    // Set when the store knows the zone: seconds east of UTC at that time.
    std::optional<int> utcOffsetSeconds;
};

struct Reminder {
    std::string identifier;
    std::string title;
    std::optional<std::string> notes;
    std::optional<DateComponents> due;
    std::optional<Calendar> calendar;
    bool completed = false;
};

struct NewReminder {
    std::string calendarIdentifier;
    std::string title;
    std::optional<std::string> notes;
    std::optional<DateComponents> due;
    std::optional<Instant> alarm;
};

enum class ReminderQuery { all, incomplete, completed };

// A failed save; the message is what the user reads.
struct StoreError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The user's calendars and reminder lists. Completions run once, on another
// thread than the caller's.
class CalendarStore {
public:
    using AccessCompletion = std::function<void(bool granted, std::optional<std::string> error)>;
    using RemindersCompletion = std::function<void(std::vector<Reminder>)>;

    virtual ~CalendarStore() = default;

    // Never asks the user anything.
    virtual int authorizationStatus(EntityKind kind) = 0;
    virtual void requestFullAccess(EntityKind kind, AccessCompletion completion) = 0;

    // All calendars of the kind, in a stable order.
    virtual std::vector<Calendar> calendars(EntityKind kind) = 0;
    virtual std::optional<Calendar> defaultCalendar(EntityKind kind) = 0;

    // The events (occurrences of recurring ones included) that overlap
    // [from, to) in every event calendar; each has a start.
    virtual std::vector<Event> events(Instant from, Instant to) = 0;
    // The same events in the same order, each handed over and then dropped,
    // so that a long range never exists as one list.
    virtual void forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit)
    {
        for (const auto& event : events(from, to))
            visit(event);
    }
    virtual void fetchReminders(ReminderQuery query, RemindersCompletion completion) = 0;
    // The reminder with that identifier; none for anything else.
    virtual std::optional<Reminder> reminder(const std::string& identifier) = 0;

    // Each returns the item as saved, or throws StoreError.
    virtual Event saveEvent(const NewEvent& event) = 0;
    virtual Reminder saveReminder(const NewReminder& reminder) = 0;
    virtual Reminder completeReminder(const Reminder& reminder) = 0;
};

}
