#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"
#include "calendar/LocalTime.h"
#include "calendar/Text.h"
#include "channel/HelperError.h"
#include "channel/Params.h"

namespace tarvio {

namespace {

Calendar chooseReminderList(CalendarStore& store, const std::optional<std::string>& wanted)
{
    if (wanted) {
        for (auto& list : store.calendars(EntityKind::reminders)) {
            if (canonicallyEqual(list.title, *wanted))
                return std::move(list);
        }
        throw notFound("lista de lembretes não encontrada: " + *wanted);
    }
    if (auto fallback = store.defaultCalendar(EntityKind::reminders))
        return *fallback;
    throw notFound("nenhuma lista de lembretes disponível");
}

}

Json remindersCreate(CalendarStore& store, const Json& params)
{
    auto title = stringParam(params, "title");
    if (!title || hasNul(*title) || trimWhitespaces(*title).empty())
        throw invalidParams("title é obrigatório");
    requireFull(store, EntityKind::reminders);

    NewReminder reminder;
    reminder.title = *title;
    reminder.notes = stringParam(params, "notes");
    refuseNul(reminder.notes, "notes");
    reminder.calendarIdentifier = chooseReminderList(store, stringParam(params, "list")).identifier;
    if (member(params, "due") && !isNullMember(params, "due")) {
        Instant due = parseStorableDate(params, "due");
        reminder.due = localComponents(due);
        reminder.alarm = due;
    }

    try {
        return reminderJSON(store.saveReminder(reminder));
    } catch (const StoreError& error) {
        throw internalError(error.what());
    }
}

Json remindersComplete(CalendarStore& store, const Json& params)
{
    auto identifier = stringParam(params, "id");
    if (!identifier || identifier->empty())
        throw invalidParams("id é obrigatório");
    requireFull(store, EntityKind::reminders);

    auto reminder = store.reminder(*identifier);
    if (!reminder)
        throw notFound("lembrete não encontrado: " + *identifier);
    reminder->completed = true;
    try {
        return reminderJSON(store.completeReminder(*reminder));
    } catch (const StoreError& error) {
        throw internalError(error.what());
    }
}

}
