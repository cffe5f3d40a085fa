#include "calendar/CalendarMethods.h"

#include "calendar/CalendarAccess.h"
#include "calendar/CalendarHandlers.h"

namespace tarvio {

void addCalendarMethods(Dispatcher& dispatcher, CalendarStore& store)
{
    CalendarStore* shared = &store;
    dispatcher.add("calendar.authStatus", [shared](const Json&) { return calendarAuthStatus(*shared); });
    dispatcher.add("calendar.requestAccess", [shared](const Json& params) { return calendarRequestAccess(*shared, params); });
    dispatcher.add("calendar.calendars", [shared](const Json& params) { return calendarCalendars(*shared, params); });
    dispatcher.add("calendar.events", [shared](const Json& params) { return calendarEvents(*shared, params); });
    dispatcher.add("calendar.create", [shared](const Json& params) { return calendarCreate(*shared, params); });
    dispatcher.add("reminders.list", [shared](const Json& params) { return remindersList(*shared, params); });
    dispatcher.add("reminders.create", [shared](const Json& params) { return remindersCreate(*shared, params); });
    dispatcher.add("reminders.complete", [shared](const Json& params) { return remindersComplete(*shared, params); });
}

}
