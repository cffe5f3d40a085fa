#include "calendar/CalendarMethods.h"

namespace tarvio {

void addCalendarMethods(Dispatcher&)
{
}

}
