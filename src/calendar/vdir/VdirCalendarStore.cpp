#include "calendar/vdir/VdirCalendarStore.h"

#include "calendar/ical/Forms.h"
#include "calendar/vdir/AtomicFile.h"
#include "calendar/vdir/IcsWriter.h"
#include "channel/Utf8.h"

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <thread>

namespace tarvio {

using vdir::Seconds;

namespace {

constexpr size_t largestItemFile = 16 * 1024 * 1024;
constexpr size_t largestMetadataFile = 4096;

const char* const calendarsFolder = "calendars";
const char* const remindersFolder = "reminders";

struct DirectoryCloser {
    void operator()(DIR* directory) const { ::closedir(directory); }
};

// Names in a folder, dot-files left out, sorted so the order is stable.
std::vector<std::string> folderEntries(const std::string& path)
{
    std::vector<std::string> names;
    std::unique_ptr<DIR, DirectoryCloser> directory(::opendir(path.c_str()));
    if (!directory)
        return names;
    while (dirent* entry = ::readdir(directory.get())) {
        if (entry->d_name[0] == '.')
            continue;
        names.emplace_back(entry->d_name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

bool isDirectory(const std::string& path)
{
    struct stat status;
    return ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

std::optional<std::string> metadata(const std::string& path)
{
    std::string text;
    if (!vdir::readWholeFile(path, text, largestMetadataFile))
        return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return makeValidUtf8(text);
}

std::optional<Rgb> parseColor(const std::optional<std::string>& text)
{
    if (!text)
        return std::nullopt;
    std::string value = *text;
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
        value.pop_back();
    if (value.size() != 7 && value.size() != 9)
        return std::nullopt;
    if (value[0] != '#' || value.find_first_not_of("0123456789abcdefABCDEF", 1) != std::string::npos)
        return std::nullopt;
    auto channel = [&](size_t at) { return std::strtol(value.substr(at, 2).c_str(), nullptr, 16) / 255.0; };
    return Rgb {channel(1), channel(3), channel(5)};
}

// A folder name from a marker file, accepted only as a plain child name.
bool isPlainName(const std::string& name)
{
    return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos
        && name.find('\0') == std::string::npos && name[0] != '.';
}

std::string itemIdentifier(const std::string& collection, const std::string& name, size_t item)
{
    std::string identifier = collection + "/" + name;
    if (item)
        identifier += "#" + std::to_string(item);
    return identifier;
}

int removeEntry(const char* path, const struct stat*, int, FTW*)
{
    return ::remove(path);
}

void writeMetadata(const std::string& folder, const std::string& name, const std::string& value)
{
    vdir::writeFileAtomically(folder, name, value + "\n");
}

bool makeFolders(const std::string& path)
{
    for (size_t slash = 1; slash != std::string::npos; slash = path.find('/', slash + 1)) {
        std::string prefix = path.substr(0, slash);
        if (::mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
    }
    return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// What is larger than the reader takes would be saved and never listed.
void refuseOversized(const std::string& text)
{
    if (text.size() > largestItemFile)
        throw StoreError("o item passa do tamanho máximo de " + std::to_string(largestItemFile / (1024 * 1024)) + " MB");
}

// The file as a later listing reads it.
vdir::ParsedFile readBack(const std::string& folder, const std::string& name)
{
    std::string text;
    if (!vdir::readWholeFile(folder + "/" + name, text, largestItemFile))
        return {};
    return vdir::parseIcs(text);
}

// The store never keeps a file the helper wrote and cannot read.
void discard(const std::string& folder, const std::string& name)
{
    ::unlink((folder + "/" + name).c_str());
}

Instant now()
{
    return std::chrono::time_point_cast<std::chrono::milliseconds>(std::chrono::system_clock::now());
}

}

VdirCalendarStore::VdirCalendarStore(std::string root, bool createDefaults, std::vector<ExternalCollection> external)
    : root(std::move(root)), createDefaults(createDefaults), external(std::move(external))
{
    // Malformed files must never abort the helper.
    icalerror_set_errors_are_fatal(0);
}

std::string VdirCalendarStore::userRoot()
{
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        return std::string(dataHome) + "/tarvio";
    std::string home;
    if (const char* value = std::getenv("HOME"); value && value[0])
        home = value;
    else if (const passwd* user = ::getpwuid(::getuid()); user && user->pw_dir)
        home = user->pw_dir;
    return home + "/.local/share/tarvio";
}

std::string VdirCalendarStore::kindFolder(EntityKind kind) const
{
    return root + "/" + (kind == EntityKind::reminders ? remindersFolder : calendarsFolder);
}

int VdirCalendarStore::authorizationStatus(EntityKind kind)
{
    // What the file system lets us do with the nearest folder that exists.
    std::string path = kindFolder(kind);
    while (!path.empty() && !isDirectory(path)) {
        auto slash = path.rfind('/');
        path = slash == 0 ? "/" : path.substr(0, slash == std::string::npos ? 0 : slash);
        if (path == "/")
            break;
    }
    if (path.empty())
        return authorization::denied;
    bool readable = ::access(path.c_str(), R_OK | X_OK) == 0;
    bool writable = ::access(path.c_str(), W_OK | X_OK) == 0;
    if (readable && writable)
        return authorization::fullAccess;
    if (writable)
        return authorization::writeOnly;
    return authorization::denied;
}

void VdirCalendarStore::requestFullAccess(EntityKind kind, AccessCompletion completion)
{
    // There is no one to ask: the answer is what the file system allows.
    bool granted = authorizationStatus(kind) == authorization::fullAccess;
    std::thread answer([&completion, granted] { completion(granted, std::nullopt); });
    answer.join();
}

void VdirCalendarStore::ensureLayout()
{
    if (!createDefaults)
        return;
    // Anything already there, even a file, is the user's: never replaced.
    struct stat status;
    if (::lstat(root.c_str(), &status) == 0)
        return;
    // Built aside and renamed into place, so a crash leaves all or nothing.
    auto slash = root.rfind('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "/" : root.substr(0, slash);
    if (!makeFolders(parent))
        return;
    std::string building = parent + "/.tarvio-XXXXXX";
    if (!::mkdtemp(building.data()))
        return;
    try {
        std::string calendar = building + "/" + calendarsFolder + "/calendario";
        std::string list = building + "/" + remindersFolder + "/lembretes";
        if (!makeFolders(calendar) || !makeFolders(list))
            throw StoreError("mkdir");
        writeMetadata(calendar, "displayname", "Calendário");
        writeMetadata(calendar, "color", "#1F6FEB");
        writeMetadata(list, "displayname", "Lembretes");
        writeMetadata(list, "color", "#F59E0B");
        writeMetadata(building, "default-calendar", "calendario");
        writeMetadata(building, "default-list", "lembretes");
        ::chmod(building.c_str(), 0700);
        if (::rename(building.c_str(), root.c_str()) == 0)
            return;
    } catch (const StoreError&) {
    }
    ::nftw(building.c_str(), removeEntry, 16, FTW_DEPTH | FTW_PHYS);
}

std::vector<VdirCalendarStore::Collection> VdirCalendarStore::scan(EntityKind kind, bool withItems)
{
    ensureLayout();
    std::string folder = kindFolder(kind);
    std::string prefix = kind == EntityKind::reminders ? remindersFolder : calendarsFolder;
    std::vector<Collection> collections;
    for (const auto& name : folderEntries(folder)) {
        std::string path = folder + "/" + name;
        if (!isDirectory(path))
            continue;
        Collection collection;
        collection.path = path;
        collection.calendar.identifier = makeValidUtf8(prefix + "/" + name);
        collection.calendar.title = metadata(path + "/displayname").value_or(makeValidUtf8(name));
        collection.calendar.writable = ::access(path.c_str(), W_OK) == 0;
        collection.calendar.color = parseColor(metadata(path + "/color"));
        collections.push_back(std::move(collection));
    }
    addExternal(kind, collections);
    if (!withItems)
        return collections;

    std::set<std::string> present;
    for (auto& collection : collections) {
        collection.files = &cache.files(collection.path);
        present.insert(collection.path);
    }
    cache.keepOnly(folder, present);
    return collections;
}

void VdirCalendarStore::addExternal(EntityKind kind, std::vector<Collection>& collections)
{
    // The same folder named twice (or one of ours) is served once.
    std::set<std::string> seen;
    for (const auto& collection : collections) {
        if (char* real = ::realpath(collection.path.c_str(), nullptr)) {
            seen.insert(real);
            std::free(real);
        }
    }
    for (const auto& folder : external) {
        if (folder.kind != kind || !isDirectory(folder.path))
            continue;
        char* real = ::realpath(folder.path.c_str(), nullptr);
        if (!real)
            continue;
        bool fresh = seen.insert(real).second;
        std::free(real);
        if (!fresh)
            continue;
        Collection collection;
        collection.path = folder.path;
        collection.calendar.identifier = makeValidUtf8("external:" + folder.path);
        auto slash = folder.path.find_last_not_of('/');
        std::string name = folder.path.substr(0, slash + 1);
        name = name.substr(name.rfind('/') + 1);
        collection.calendar.title = folder.title ? makeValidUtf8(*folder.title)
                                                 : metadata(folder.path + "/displayname").value_or(makeValidUtf8(name));
        collection.calendar.writable = !folder.readOnly && ::access(folder.path.c_str(), W_OK) == 0;
        collection.calendar.color = parseColor(metadata(folder.path + "/color"));
        collections.push_back(std::move(collection));
    }
}

std::vector<Calendar> VdirCalendarStore::calendars(EntityKind kind)
{
    std::vector<Calendar> result;
    for (auto& collection : scan(kind, false))
        result.push_back(std::move(collection.calendar));
    return result;
}

std::optional<Calendar> VdirCalendarStore::defaultCalendar(EntityKind kind)
{
    ensureLayout();
    auto name = metadata(root + (kind == EntityKind::reminders ? "/default-list" : "/default-calendar"));
    if (!name || !isPlainName(*name))
        return std::nullopt;
    std::string identifier = std::string(kind == EntityKind::reminders ? remindersFolder : calendarsFolder) + "/" + *name;
    for (auto& calendar : calendars(kind)) {
        if (calendar.identifier == identifier)
            return calendar;
    }
    return std::nullopt;
}

std::vector<Event> VdirCalendarStore::events(Instant from, Instant to)
{
    std::vector<Event> result;
    forEachEvent(from, to, [&](const Event& event) { result.push_back(event); });
    return result;
}

void VdirCalendarStore::forEachEvent(Instant from, Instant to, const std::function<void(const Event&)>& visit)
{
    Seconds start = std::chrono::floor<std::chrono::seconds>(from).time_since_epoch().count();
    Seconds end = std::chrono::ceil<std::chrono::seconds>(to).time_since_epoch().count();
    for (const auto& collection : scan(EntityKind::events, true)) {
        for (const auto& file : *collection.files) {
            for (const auto& stored : file.parsed.events) {
                if (stored.start >= end || stored.lastEnd < start)
                    continue;
                std::string identifier = itemIdentifier(collection.calendar.identifier, file.stem, stored.item);
                vdir::expandEvent(stored, start, end, [&](Seconds first, Seconds last) {
                    visit(ical::eventOf(stored, collection.calendar, identifier, first, last));
                });
            }
        }
    }
}

std::vector<Reminder> VdirCalendarStore::loadReminders(ReminderQuery query)
{
    std::vector<Reminder> result;
    for (const auto& collection : scan(EntityKind::reminders, true)) {
        for (const auto& file : *collection.files) {
            for (const auto& todo : file.parsed.todos) {
                if ((query == ReminderQuery::completed && !todo.completed)
                    || (query == ReminderQuery::incomplete && todo.completed))
                    continue;
                result.push_back(
                    ical::reminderOf(todo, collection.calendar, itemIdentifier(collection.calendar.identifier, file.stem, todo.item)));
            }
        }
    }
    return result;
}

void VdirCalendarStore::fetchReminders(ReminderQuery query, RemindersCompletion completion)
{
    std::thread fetch([&] { completion(loadReminders(query)); });
    fetch.join();
}

std::optional<Reminder> VdirCalendarStore::reminder(const std::string& identifier)
{
    // Identifiers are only ever compared with those of listed items: no
    // request text becomes part of a path.
    if (identifier.find('\0') != std::string::npos)
        return std::nullopt;
    for (auto& reminder : loadReminders(ReminderQuery::all)) {
        if (reminder.identifier == identifier)
            return std::move(reminder);
    }
    return std::nullopt;
}

std::optional<VdirCalendarStore::Collection> VdirCalendarStore::collectionFor(
    EntityKind kind, const std::string& identifier)
{
    if (identifier.find('\0') != std::string::npos)
        return std::nullopt;
    for (auto& collection : scan(kind, false)) {
        if (collection.calendar.identifier == identifier)
            return std::move(collection);
    }
    return std::nullopt;
}

Event VdirCalendarStore::saveEvent(const NewEvent& event)
{
    auto collection = collectionFor(EntityKind::events, event.calendarIdentifier);
    if (!collection)
        throw StoreError("a agenda não existe mais");
    std::string uid = ical::newUid();
    std::string text = vdir::eventText(event, uid, now());
    refuseOversized(text);
    vdir::writeFileAtomically(collection->path, uid + ".ics", text);
    auto parsed = readBack(collection->path, uid + ".ics");
    Seconds start = std::chrono::floor<std::chrono::seconds>(event.start).time_since_epoch().count();
    if (parsed.events.empty() || parsed.events.front().allDay != event.allDay
        || (!event.allDay && parsed.events.front().start != start)) {
        discard(collection->path, uid + ".ics");
        throw StoreError("o evento gravado não pôde ser lido");
    }
    const auto& stored = parsed.events.front();
    return ical::eventOf(stored, collection->calendar, itemIdentifier(collection->calendar.identifier, uid, 0), stored.start,
        stored.end);
}

Reminder VdirCalendarStore::saveReminder(const NewReminder& reminder)
{
    auto collection = collectionFor(EntityKind::reminders, reminder.calendarIdentifier);
    if (!collection)
        throw StoreError("a lista de lembretes não existe mais");
    std::string uid = ical::newUid();
    std::string text = vdir::reminderText(reminder, uid, now());
    refuseOversized(text);
    vdir::writeFileAtomically(collection->path, uid + ".ics", text);
    auto parsed = readBack(collection->path, uid + ".ics");
    if (parsed.todos.empty() || parsed.todos.front().due.has_value() != reminder.due.has_value()
        || (reminder.due && parsed.todos.front().due->year != reminder.due->year)) {
        discard(collection->path, uid + ".ics");
        throw StoreError("o lembrete gravado não pôde ser lido");
    }
    return ical::reminderOf(parsed.todos.front(), collection->calendar, itemIdentifier(collection->calendar.identifier, uid, 0));
}

Reminder VdirCalendarStore::completeReminder(const Reminder& reminder)
{
    for (const auto& collection : scan(EntityKind::reminders, true)) {
        for (const auto& file : *collection.files) {
            for (const auto& todo : file.parsed.todos) {
                if (itemIdentifier(collection.calendar.identifier, file.stem, todo.item) != reminder.identifier)
                    continue;
                std::string name = file.name;
                std::string original;
                if (!vdir::readWholeFile(collection.path + "/" + name, original, largestItemFile))
                    throw StoreError("não foi possível ler o lembrete: " + std::string(std::strerror(errno)));
                // Read again: the file may have changed since it was listed.
                std::optional<std::string> text;
                for (const auto& current : vdir::parseIcs(original).todos) {
                    if (current.item == todo.item)
                        text = vdir::completedText(original, current.component, now());
                }
                if (!text)
                    throw StoreError("o lembrete mudou e não pôde ser atualizado");
                refuseOversized(*text);
                vdir::writeFileAtomically(collection.path, name, *text);
                auto parsed = vdir::parseIcs(*text);
                for (const auto& saved : parsed.todos) {
                    if (saved.item == todo.item)
                        return ical::reminderOf(saved, collection.calendar, reminder.identifier);
                }
                throw StoreError("o lembrete gravado não pôde ser lido");
            }
        }
    }
    throw StoreError("o lembrete não existe mais");
}

}
