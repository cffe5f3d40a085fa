#pragma once

#include "calendar/CalendarStore.h"
#include "calendar/vdir/ItemCache.h"

#include <string>
#include <vector>

namespace tarvio {

// Calendars and reminder lists as vdir collections under one folder:
//   <root>/calendars/<folder>/   event calendars
//   <root>/reminders/<folder>/   reminder lists
// each with `displayname` and `color` files and one .ics file per item;
// <root>/default-calendar and <root>/default-list name the default
// collection's folder. Created with "Calendário" and "Lembretes" on first use.
//
// Collections of other programs (khal's, todoman's) are served beside them,
// read where they are; their identifiers start with "external:".
class VdirCalendarStore final : public CalendarStore {
public:
    struct ExternalCollection {
        EntityKind kind = EntityKind::events;
        std::string path;
        std::optional<std::string> title; // else its displayname, else its folder name
        bool readOnly = false;
    };

    // Reads nothing until asked. Without `createDefaults` a missing root
    // stays missing.
    explicit VdirCalendarStore(
        std::string root, bool createDefaults = true, std::vector<ExternalCollection> external = {});
    // <data home>/tarvio, the data home being $XDG_DATA_HOME or ~/.local/share.
    static std::string userRoot();

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

    // How many files have been parsed so far; unchanged files are not parsed again.
    size_t parsedFileCount() const { return cache.parseCount(); }

private:
    struct Collection {
        std::string path;
        Calendar calendar;
        const std::vector<vdir::CachedItemFile>* files = nullptr;
    };

    std::string kindFolder(EntityKind kind) const;
    void ensureLayout();
    std::vector<Collection> scan(EntityKind kind, bool withItems);
    void addExternal(EntityKind kind, std::vector<Collection>& collections);
    std::vector<Reminder> loadReminders(ReminderQuery query);
    std::optional<Collection> collectionFor(EntityKind kind, const std::string& identifier);

    std::string root;
    bool createDefaults;
    std::vector<ExternalCollection> external;
    vdir::ItemCache cache;
};

}
