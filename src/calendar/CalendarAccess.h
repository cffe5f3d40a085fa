#pragma once

#include "calendar/CalendarStore.h"
#include "channel/Json.h"

#include <optional>
#include <string>

namespace tarvio {

// "notDetermined", "restricted", "denied", "fullAccess", "writeOnly" or "unknown".
std::string statusName(int status);

struct AccessAnswer {
    bool granted = false;
    std::optional<std::string> error;
};

// Asks for full access to the kind and waits for the answer.
AccessAnswer request(CalendarStore& store, EntityKind kind);
// Throws permission_denied unless the kind has full access; never asks.
void requireFull(CalendarStore& store, EntityKind kind);
// Events only: asks once when undecided, throws permission_denied otherwise.
void ensureEventAccess(CalendarStore& store);

Json calendarAuthStatus(CalendarStore& store);
Json calendarRequestAccess(CalendarStore& store, const Json& params);

}
