#pragma once

#include "calendar/CalendarStore.h"

#include <map>
#include <thread>

namespace tarvio::testing {

// A store whose statuses, prompt answers, contents and save outcomes a test
// sets; it records what the handlers asked of it.
class FakeCalendarStore final : public CalendarStore {
public:
    struct PromptAnswer {
        bool granted = true;
        std::optional<std::string> error;
    };

    std::map<EntityKind, int> status {{EntityKind::events, authorization::fullAccess},
        {EntityKind::reminders, authorization::fullAccess}};
    std::map<EntityKind, PromptAnswer> answer {{EntityKind::events, {}}, {EntityKind::reminders, {}}};
    std::map<EntityKind, std::vector<Calendar>> lists;
    std::map<EntityKind, std::string> defaults;
    std::vector<Event> storedEvents;
    std::vector<Reminder> storedReminders;
    std::optional<std::string> saveFailure;

    std::vector<EntityKind> prompts;
    int storeReads = 0;
    std::optional<std::pair<Instant, Instant>> askedRange;
    std::optional<ReminderQuery> askedQuery;
    std::vector<NewEvent> savedEvents;
    std::vector<NewReminder> savedReminders;
    std::vector<Reminder> completed;

    int authorizationStatus(EntityKind kind) override { return status[kind]; }

    void requestFullAccess(EntityKind kind, AccessCompletion completion) override
    {
        prompts.push_back(kind);
        PromptAnswer given = answer[kind];
        if (given.granted)
            status[kind] = authorization::fullAccess;
        else if (status[kind] == authorization::notDetermined)
            status[kind] = authorization::denied;
        // As the platform does: the answer arrives on another thread.
        std::thread([completion, given] { completion(given.granted, given.error); }).join();
    }

    std::vector<Calendar> calendars(EntityKind kind) override
    {
        ++storeReads;
        return lists[kind];
    }

    std::optional<Calendar> defaultCalendar(EntityKind kind) override
    {
        ++storeReads;
        for (const auto& calendar : lists[kind]) {
            if (calendar.identifier == defaults[kind])
                return calendar;
        }
        return std::nullopt;
    }

    std::vector<Event> events(Instant from, Instant to) override
    {
        ++storeReads;
        askedRange = {from, to};
        return storedEvents;
    }

    void fetchReminders(ReminderQuery query, RemindersCompletion completion) override
    {
        ++storeReads;
        askedQuery = query;
        std::vector<Reminder> delivered = storedReminders;
        std::thread([completion, delivered] { completion(delivered); }).join();
    }

    std::optional<Reminder> reminder(const std::string& identifier) override
    {
        ++storeReads;
        for (const auto& reminder : storedReminders) {
            if (reminder.identifier == identifier)
                return reminder;
        }
        return std::nullopt;
    }

    Event saveEvent(const NewEvent& event) override
    {
        if (saveFailure)
            throw StoreError(*saveFailure);
        savedEvents.push_back(event);
        Event saved;
        saved.identifier = "event-" + std::to_string(savedEvents.size());
        saved.title = event.title;
        saved.start = event.start;
        saved.end = event.end;
        saved.allDay = event.allDay;
        saved.location = event.location;
        saved.notes = event.notes;
        for (const auto& calendar : lists[EntityKind::events]) {
            if (calendar.identifier == event.calendarIdentifier)
                saved.calendar = calendar;
        }
        return saved;
    }

    Reminder saveReminder(const NewReminder& reminder) override
    {
        if (saveFailure)
            throw StoreError(*saveFailure);
        savedReminders.push_back(reminder);
        Reminder saved {"reminder-" + std::to_string(savedReminders.size()), reminder.title, reminder.notes,
            reminder.due, std::nullopt, false};
        for (const auto& list : lists[EntityKind::reminders]) {
            if (list.identifier == reminder.calendarIdentifier)
                saved.calendar = list;
        }
        return saved;
    }

    Reminder completeReminder(const Reminder& reminder) override
    {
        if (saveFailure)
            throw StoreError(*saveFailure);
        completed.push_back(reminder);
        return reminder;
    }
};

}
