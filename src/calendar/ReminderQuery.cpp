#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "calendar/LocalTime.h"
#include "channel/Params.h"

#include <memory>
#include <semaphore>

namespace tarvio {

namespace {

std::vector<Reminder> fetchReminders(CalendarStore& store, ReminderQuery query)
{
    // Shared with the completion, which the store runs on another thread.
    struct Slot {
        std::counting_semaphore<> done {0};
        std::vector<Reminder> reminders;
    };
    auto slot = std::make_shared<Slot>();
    store.fetchReminders(query, [slot](std::vector<Reminder> reminders) {
        slot->reminders = std::move(reminders);
        slot->done.release();
    });
    slot->done.acquire();
    return std::move(slot->reminders);
}

}

std::optional<Instant> dueDate(const Reminder& reminder)
{
    if (!reminder.due)
        return std::nullopt;
    return instantFromComponents(*reminder.due);
}

Json reminderJSON(const Reminder& reminder)
{
    auto due = dueDate(reminder);
    return {
        {"id", reminder.identifier},
        {"title", reminder.title},
        {"due", due ? Json(formatDate(*due)) : Json(nullptr)},
        {"notes", reminder.notes ? Json(*reminder.notes) : Json(nullptr)},
        {"list", reminder.calendar ? reminder.calendar->title : std::string()},
        {"completed", reminder.completed},
    };
}

Json remindersList(CalendarStore& store, const Json& params)
{
    requireFull(store, EntityKind::reminders);
    auto completed = booleanParam(params, "completed");
    ReminderQuery query = !completed ? ReminderQuery::all
        : *completed                 ? ReminderQuery::completed
                                     : ReminderQuery::incomplete;
    Json result = Json::array();
    for (const auto& reminder : fetchReminders(store, query))
        result.push_back(reminderJSON(reminder));
    return result;
}

}
