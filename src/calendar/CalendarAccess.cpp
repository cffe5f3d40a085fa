#include "calendar/CalendarAccess.h"

#include "channel/HelperError.h"
#include "channel/Params.h"

#include <memory>
#include <semaphore>

namespace tarvio {

std::string statusName(int status)
{
    switch (status) {
    case authorization::notDetermined:
        return "notDetermined";
    case authorization::restricted:
        return "restricted";
    case authorization::denied:
        return "denied";
    case authorization::fullAccess:
        return "fullAccess";
    case authorization::writeOnly:
        return "writeOnly";
    default:
        return "unknown";
    }
}

AccessAnswer request(CalendarStore& store, EntityKind kind)
{
    // Shared with the completion, which the store runs on another thread.
    struct Slot {
        std::counting_semaphore<> done {0};
        AccessAnswer answer;
    };
    auto slot = std::make_shared<Slot>();
    store.requestFullAccess(kind, [slot](bool granted, std::optional<std::string> error) {
        slot->answer.granted = granted;
        slot->answer.error = std::move(error);
        slot->done.release();
    });
    slot->done.acquire();
    return slot->answer;
}

void requireFull(CalendarStore& store, EntityKind kind)
{
    if (store.authorizationStatus(kind) == authorization::fullAccess)
        return;
    std::string what = kind == EntityKind::reminders ? "lembretes" : "calendário";
    throw permissionDenied("sem acesso completo a " + what + "; chame calendar.requestAccess");
}

void ensureEventAccess(CalendarStore& store)
{
    int status = store.authorizationStatus(EntityKind::events);
    if (status == authorization::fullAccess)
        return;
    if (status == authorization::notDetermined && request(store, EntityKind::events).granted)
        return;
    throw permissionDenied(
        "sem acesso completo ao calendário; permita em Ajustes do Sistema > Privacidade e Segurança > Calendários");
}

Json calendarAuthStatus(CalendarStore& store)
{
    auto events = statusName(store.authorizationStatus(EntityKind::events));
    auto reminders = statusName(store.authorizationStatus(EntityKind::reminders));
    return {{"events", events}, {"reminders", reminders}};
}

namespace {

Json accessJSON(const AccessAnswer& answer)
{
    return {{"granted", answer.granted}, {"error", answer.error ? Json(*answer.error) : Json(nullptr)}};
}

}

Json calendarRequestAccess(CalendarStore& store, const Json& params)
{
    std::string kind = stringParam(params, "kind").value_or("both");
    bool events = kind == "events" || kind == "both";
    bool reminders = kind == "reminders" || kind == "both";
    if (!events && !reminders)
        throw invalidParams("kind deve ser events, reminders ou both");
    Json result = Json::object();
    if (events)
        result["events"] = accessJSON(request(store, EntityKind::events));
    if (reminders)
        result["reminders"] = accessJSON(request(store, EntityKind::reminders));
    return result;
}

}
