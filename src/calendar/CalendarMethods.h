#pragma once

#include "calendar/CalendarStore.h"
#include "channel/Dispatcher.h"

namespace tarvio {

// The calendar and reminder methods, all served by `store`.
void addCalendarMethods(Dispatcher& dispatcher, CalendarStore& store);

}
