#pragma once

#include "calendar/CalendarStore.h"
#include "calendar/vdir/IcsFile.h"

#include <sys/stat.h>
#include <sys/types.h>

#include <ctime>
#include <string>
#include <unordered_map>
#include <vector>

namespace tarvio {

// Calendars and reminder lists as vdir collections under one folder:
//   <root>/calendars/<folder>/   event calendars
//   <root>/reminders/<folder>/   reminder lists
// each with `displayname` and `color` files and one .ics file per item;
// <root>/default-calendar and <root>/default-list name the default
// collection's folder. Created with "Calendário" and "Lembretes" on first use.
class VdirCalendarStore final : public CalendarStore {
public:
    // Reads nothing until asked.
    explicit VdirCalendarStore(std::string root);
    // <data home>/tarvio, the data home being $XDG_DATA_HOME or ~/.local/share.
    static std::string userRoot();

    int authorizationStatus(EntityKind kind) override;
    void requestFullAccess(EntityKind kind, AccessCompletion completion) override;
    std::vector<Calendar> calendars(EntityKind kind) override;
    std::optional<Calendar> defaultCalendar(EntityKind kind) override;
    std::vector<Event> events(Instant from, Instant to) override;
    void fetchReminders(ReminderQuery query, RemindersCompletion completion) override;
    std::optional<Reminder> reminder(const std::string& identifier) override;
    Event saveEvent(const NewEvent& event) override;
    Reminder saveReminder(const NewReminder& reminder) override;
    Reminder completeReminder(const Reminder& reminder) override;

    // How many files have been parsed so far; unchanged files are not parsed again.
    size_t parsedFileCount() const { return parses; }

private:
    struct CachedFile {
        ino_t inode = 0;
        off_t size = 0;
        timespec modified {};
        bool seen = false;
        vdir::ParsedFile parsed;
    };
    struct ItemFile {
        std::string name; // the file name without .ics
        const CachedFile* file;
    };
    struct Collection {
        std::string path;
        Calendar calendar;
        std::vector<ItemFile> files;
    };

    std::string kindFolder(EntityKind kind) const;
    void ensureLayout();
    std::vector<Collection> scan(EntityKind kind, bool withItems);
    const CachedFile* cachedFile(const std::string& path, const struct stat& status);
    std::vector<Reminder> loadReminders(ReminderQuery query);
    std::optional<Collection> collectionFor(EntityKind kind, const std::string& identifier);

    std::string root;
    bool layoutChecked = false;
    std::unordered_map<std::string, CachedFile> cache;
    size_t parses = 0;
};

}
