// The EDS calendar store as a module of its own, loaded at the first calendar
// request, so that EDS's and GLib's libraries cost nothing until then.

#include "calendar/eds/EdsCalendarStore.h"

extern "C" __attribute__((visibility("default"))) tarvio::CalendarStore* tarvioConnectCalendarStore(long waitMilliseconds)
{
    return tarvio::EdsCalendarStore::connect(std::chrono::milliseconds(waitMilliseconds)).release();
}
