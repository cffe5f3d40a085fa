#include "calendar/CombinedCalendarStore.h"

#include <thread>

namespace tarvio {

CombinedCalendarStore::CombinedCalendarStore(std::vector<Member> members) : members(std::move(members)) { }

std::string CombinedCalendarStore::storeOf(const Calendar& calendar, EntityKind kind)
{
    for (auto& member : members) {
        for (const auto& each : member.store->calendars(kind)) {
            if (each.identifier == calendar.identifier)
                return member.name;
        }
    }
    return {};
}

int CombinedCalendarStore::authorizationStatus(EntityKind kind)
{
    // The first member is the one the user's calendars live in.
    return members.front().store->authorizationStatus(kind);
}

void CombinedCalendarStore::requestFullAccess(EntityKind kind, AccessCompletion completion)
{
    members.front().store->requestFullAccess(kind, std::move(completion));
}

std::vector<Calendar> CombinedCalendarStore::calendars(EntityKind kind)
{
    std::vector<Calendar> result;
    for (auto& member : members) {
        for (auto& calendar : member.store->calendars(kind)) {
            calendar.store = member.name;
            result.push_back(std::move(calendar));
        }
    }
    return result;
}

std::optional<Calendar> CombinedCalendarStore::defaultCalendar(EntityKind kind)
{
    for (auto& member : members) {
        if (auto calendar = member.store->defaultCalendar(kind)) {
            calendar->store = member.name;
            return calendar;
        }
    }
    return std::nullopt;
}

std::vector<Event> CombinedCalendarStore::events(Instant from, Instant to)
{
    std::vector<Event> result;
    for (auto& member : members) {
        for (auto& event : member.store->events(from, to))
            result.push_back(std::move(event));
    }
    return result;
}

void CombinedCalendarStore::forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit)
{
    for (auto& member : members)
        member.store->forEachEvent(from, to, visit);
}

void CombinedCalendarStore::fetchReminders(ReminderQuery query, RemindersCompletion completion)
{
    std::vector<Reminder> result;
    for (auto& member : members) {
        member.store->fetchReminders(query, [&result](std::vector<Reminder> reminders) {
            for (auto& reminder : reminders)
                result.push_back(std::move(reminder));
        });
    }
    std::thread answer([&] { completion(std::move(result)); });
    answer.join();
}

std::optional<Reminder> CombinedCalendarStore::reminder(const std::string& identifier)
{
    for (auto& member : members) {
        if (auto found = member.store->reminder(identifier))
            return found;
    }
    return std::nullopt;
}

CalendarStore* CombinedCalendarStore::holder(EntityKind kind, const std::string& calendarIdentifier)
{
    for (auto& member : members) {
        for (const auto& calendar : member.store->calendars(kind)) {
            if (calendar.identifier == calendarIdentifier)
                return member.store.get();
        }
    }
    return nullptr;
}

Event CombinedCalendarStore::saveEvent(const NewEvent& event)
{
    auto* store = holder(EntityKind::events, event.calendarIdentifier);
    if (!store)
        throw StoreError("a agenda não existe mais");
    return store->saveEvent(event);
}

Reminder CombinedCalendarStore::saveReminder(const NewReminder& reminder)
{
    auto* store = holder(EntityKind::reminders, reminder.calendarIdentifier);
    if (!store)
        throw StoreError("a lista de lembretes não existe mais");
    return store->saveReminder(reminder);
}

Reminder CombinedCalendarStore::completeReminder(const Reminder& reminder)
{
    for (auto& member : members) {
        if (member.store->reminder(reminder.identifier))
            return member.store->completeReminder(reminder);
    }
    throw StoreError("o lembrete não existe mais");
}

ChosenCalendarStore::ChosenCalendarStore(Chooser choose) : choose(std::move(choose)) { }

CalendarStore& ChosenCalendarStore::store()
{
    if (!chosen)
        chosen = choose();
    return *chosen;
}

}
