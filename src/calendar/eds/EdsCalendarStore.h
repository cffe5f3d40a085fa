#pragma once

#include "calendar/CalendarStore.h"

#include <chrono>
#include <memory>
#include <string>

namespace tarvio {

// The user's calendars and task lists in Evolution Data Server, over the
// session bus. Calendars are the enabled calendar sources, reminder lists the
// enabled task lists. What each source holds is read once, and a client view
// keeps that copy current with EDS's change notifications, which are taken
// in at the start of every call.
//
// Every call on EDS is bounded: a bus or factory that stops answering makes
// the call fail (StoreError) or leaves the source out, never hangs.
//
// Identifiers: "eds:" + source uid + "/" + item uid, with "%" and "/" of
// both escaped, so they never collide with another store's and name one item.
//
// Use from one thread only: the store owns a main context of its own that it
// runs while a call is in progress.
class EdsCalendarStore final : public CalendarStore {
public:
    // None when no session bus is there or EDS's source registry does not
    // answer within `wait`.
    static std::unique_ptr<EdsCalendarStore> connect(std::chrono::milliseconds wait);
    ~EdsCalendarStore() override;

    int authorizationStatus(EntityKind kind) override;
    void requestFullAccess(EntityKind kind, AccessCompletion completion) override;
    std::vector<Calendar> calendars(EntityKind kind) override;
    std::optional<Calendar> defaultCalendar(EntityKind kind) override;
    std::vector<Event> events(Instant from, Instant to) override;
    void forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit) override;
    void fetchReminders(ReminderQuery query, RemindersCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    Event saveEvent(const NewEvent& event) override;
    Reminder saveReminder(const NewReminder& reminder) override;
    Reminder completeReminder(const Reminder& reminder) override;

    struct State;

private:
    explicit EdsCalendarStore(std::unique_ptr<State> state);
    std::unique_ptr<State> state;
};

// GLib's and EDS's log messages go nowhere: the helper writes nothing to
// standard error.
void silenceGlibLogs();

}
