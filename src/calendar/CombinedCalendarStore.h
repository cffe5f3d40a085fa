#pragma once

#include "calendar/CalendarStore.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace tarvio {

// Several stores seen as one. Each member's identifiers must be its own (the
// stores prefix them), so an identifier names at most one member's item:
// lists are the members' lists in member order, the first member's default
// comes first, and a save goes to the member that holds the calendar.
class CombinedCalendarStore final : public CalendarStore {
public:
    struct Member {
        std::string name; // which store answered, for "debug"
        std::unique_ptr<CalendarStore> store;
    };
    explicit CombinedCalendarStore(std::vector<Member> members);

    // The name of the member that serves the calendar, or "".
    std::string storeOf(const Calendar& calendar, EntityKind kind);

    int authorizationStatus(EntityKind kind) override;
    void requestFullAccess(EntityKind kind, AccessCompletion completion) override;
    std::vector<Calendar> calendars(EntityKind kind) override;
    std::optional<Calendar> defaultCalendar(EntityKind kind) override;
    std::vector<Event> events(Instant from, Instant to) override;
    void forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit) override;
    void fetchReminders(ReminderQuery query, RemindersCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    Event saveEvent(const NewEvent& event) override;
    Reminder saveReminder(const NewReminder& reminder) override;
    Reminder completeReminder(const Reminder& reminder) override;

private:
    CalendarStore* holder(EntityKind kind, const std::string& calendarIdentifier);

    std::vector<Member> members;
};

// Chooses its store at the first call that needs one, and keeps it.
class ChosenCalendarStore final : public CalendarStore {
public:
    using Chooser = std::function<std::unique_ptr<CalendarStore>()>;
    explicit ChosenCalendarStore(Chooser choose);

    // The chosen store (choosing it now if need be).
    CalendarStore& store();

    int authorizationStatus(EntityKind kind) override { return store().authorizationStatus(kind); }
    void requestFullAccess(EntityKind kind, AccessCompletion completion) override
    {
        store().requestFullAccess(kind, std::move(completion));
    }
    std::vector<Calendar> calendars(EntityKind kind) override { return store().calendars(kind); }
    std::optional<Calendar> defaultCalendar(EntityKind kind) override { return store().defaultCalendar(kind); }
    std::vector<Event> events(Instant from, Instant to) override { return store().events(from, to); }
    void forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit) override
    {
        store().forEachEvent(from, to, visit);
    }
    void fetchReminders(ReminderQuery query, RemindersCompletion completion) override
    {
        store().fetchReminders(query, std::move(completion));
    }
    std::optional<Reminder> reminder(const std::string& identifier) override { return store().reminder(identifier); }
    Event saveEvent(const NewEvent& event) override { return store().saveEvent(event); }
    Reminder saveReminder(const NewReminder& reminder) override { return store().saveReminder(reminder); }
    Reminder completeReminder(const Reminder& reminder) override { return store().completeReminder(reminder); }

private:
    Chooser choose;
    std::unique_ptr<CalendarStore> chosen;
};

}
